#include "EmulatedBridge.h"
#include "usb/libusb/LibusbDriver.h"

#include <QCoreApplication>
#include <QFile>
#include <QTest>

#include <cstdio>
#include <grp.h>
#include <unistd.h>

using namespace regbench::usb;
using regbench::tests::EmulatedBridge;
using regbench::usb::libusb::LibusbDriver;

// The bridge's node is made unreadable; root ignores file modes, so main() gives root's rights away first.
class LibusbPermissionTest : public QObject {
    Q_OBJECT

private slots:
    void deniedBridgeIsOfferedAndExplained();
};

void LibusbPermissionTest::deniedBridgeIsOfferedAndExplained() {
    EmulatedBridge bridge;
    bridge.add();
    QVERIFY(QFile::setPermissions(bridge.nodeFile(), {}));
    LibusbDriver driver;
    std::vector<std::uint32_t> attached;
    std::vector<std::uint32_t> detached;
    DeviceInfo offered;
    EventTable table;
    table.AttachCallback = [&](std::uint32_t handle, const DeviceInfo& info, void*) {
        attached.push_back(handle);
        offered = info;
        return true;
    };
    table.DetachCallback = [&](std::uint32_t handle, void*) { detached.push_back(handle); };
    const MatchEntry match{BridgeVendorId, BridgeProductId};
    std::uint32_t driverHandle = 0;
    QCOMPARE(driver.WDU_VB_Init(&driverHandle, &match, 1, table, 1, nullptr), UsbStatus::Success);
    QTRY_COMPARE(attached.size(), 1u);
    QCOMPARE(offered.Descriptor.idVendor, BridgeVendorId);

    DeviceInfo info;
    QCOMPARE(driver.WDU_GetDeviceInfo(attached[0], &info), UsbStatus::NoPermission);
    std::uint8_t buffer[3] = {1, 0x39, 0};
    std::uint32_t done = 0xDEAD;
    QCOMPARE(driver.WDU_Transfer(attached[0], 0x02, 0, 0, buffer, 3, &done, {}, 1000),
             UsbStatus::NoPermission);
    QCOMPARE(done, 0u);
    QVERIFY(bridge.outTransfers().empty());
    QVERIFY(driver.VB_Stat2Str(UsbStatus::NoPermission).contains("60-regbench.rules"));

    bridge.remove();
    QTRY_COMPARE(detached, attached);
}

int main(int argc, char** argv) {
    if (!EmulatedBridge::underWrapper()) {
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
    LibusbPermissionTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "LibusbPermissionTest.moc"
