#include "EmulatedAdapter.h"
#include "usb/i2cdev/I2cDevDriver.h"

#include <QCoreApplication>
#include <QFile>
#include <QTest>

#include <cstdio>
#include <grp.h>
#include <unistd.h>

using namespace regbench::usb;
using regbench::tests::EmulatedAdapter;

// The adapter's node is made unreadable; root ignores file modes, so main() gives root's rights away first.
class I2cDevPermissionTest : public QObject {
    Q_OBJECT

private slots:
    void deniedAdapterIsOfferedAndExplained() {
        EmulatedAdapter adapters;
        adapters.add();
        QVERIFY(QFile::setPermissions(adapters.nodeFile(), {}));
        i2cdev::I2cDevDriver driver;
        std::vector<std::uint32_t> attached;
        EventTable table;
        table.AttachCallback = [&](std::uint32_t handle, const DeviceInfo&, void*) {
            attached.push_back(handle);
            return true;
        };
        std::uint32_t driverHandle = 0;
        QCOMPARE(driver.WDU_VB_Init(&driverHandle, nullptr, 0, table, 1, nullptr), UsbStatus::Success);
        QTRY_COMPARE(attached.size(), 1u);

        DeviceInfo info;
        QCOMPARE(driver.WDU_GetDeviceInfo(attached[0], &info), UsbStatus::NoPermission);
        std::uint8_t request[3] = {1, 0x39, 0};
        std::uint32_t done = 0xDEAD;
        QCOMPARE(driver.WDU_Transfer(attached[0], 0x02, 0, 0, request, 3, &done, {}, 1000),
                 UsbStatus::NoPermission);
        QCOMPARE(done, 0u);
        QCOMPARE(adapters.ioctls(), 0);
        QVERIFY(driver.VB_Stat2Str(UsbStatus::NoPermission).contains("60-regbench.rules"));

        // Access granted meanwhile (the rule installed and applied) works without plugging in again.
        QVERIFY(QFile::setPermissions(adapters.nodeFile(), QFile::ReadOwner | QFile::WriteOwner));
        QCOMPARE(driver.WDU_GetDeviceInfo(attached[0], &info), UsbStatus::Success);
    }
};

int main(int argc, char** argv) {
    if (!EmulatedAdapter::underWrapper()) {
        std::fputs("Not under umockdev-wrapper: skipped\n", stderr);
        return 77;
    }
    if (geteuid() == 0) {
        constexpr uid_t Nobody = 65534;
        if (setgroups(0, nullptr) != 0 || setgid(Nobody) != 0 || setuid(Nobody) != 0) {
            std::perror("cannot give up root's rights");
            return 1;
        }
    }
    QCoreApplication app(argc, argv);
    I2cDevPermissionTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "I2cDevPermissionTest.moc"
