// The libusb backend against bridges emulated at the kernel interface: arrival and removal, a second bridge,
// replies that never come or are cut off by an unplug, closing at awkward moments, and a node without
// permission.
#include "usb/libusb/LibusbDriver.h"
#include "EmulatedBridge.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <grp.h>
#include <thread>
#include <unistd.h>

using namespace regbench::usb;
using regbench::tests::EmulatedBridge;
using regbench::usb::libusb::LibusbDriver;
using Watch = LibusbDriver::DeviceWatch;

Q_DECLARE_METATYPE(Watch)

namespace {

// A driver with callbacks that record what they were given.
struct Rig {
    explicit Rig(Watch watch = Watch::Automatic) : driver(watch) {}

    std::uint32_t init() {
        EventTable table;
        table.AttachCallback = [this](std::uint32_t handle, const DeviceInfo& info, void*) {
            attached.push_back(handle);
            infos.push_back(info);
            return onAttach ? onAttach(handle) : true;
        };
        table.DetachCallback = [this](std::uint32_t handle, void*) { detached.push_back(handle); };
        const MatchEntry match{BridgeVendorId, BridgeProductId};
        return driver.WDU_VB_Init(&driverHandle, &match, 1, table, 1, nullptr);
    }
    void uninit() { driver.WDU_VB_Uninit(driverHandle); }
    // Pipe 0x02 writes, 0x82 reads, offering the whole of data; 5 s is ample where the bridge answers.
    std::uint32_t transfer(std::uint32_t handle, std::uint32_t pipe, QByteArray& data, std::uint32_t& done,
                           std::uint32_t timeoutMs = 5000) {
        return driver.WDU_Transfer(handle, pipe, pipe >> 7, 0, reinterpret_cast<std::uint8_t*>(data.data()),
                                   std::uint32_t(data.size()), &done, {}, timeoutMs);
    }
    // The register's value, or -1 when the access failed.
    int readRegister(std::uint32_t handle, std::uint8_t address) {
        QByteArray request = QByteArray::fromHex("0139") + char(address);
        QByteArray reply(3, 0);
        std::uint32_t done = 0;
        if (transfer(handle, 0x02, request, done) != UsbStatus::Success ||
            transfer(handle, 0x82, reply, done) != UsbStatus::Success || done != 2 || reply.at(0) != 0)
            return -1;
        return std::uint8_t(reply.at(1));
    }

    LibusbDriver driver;
    std::uint32_t driverHandle = 0;
    std::vector<std::uint32_t> attached;
    std::vector<DeviceInfo> infos;
    std::vector<std::uint32_t> detached;
    std::function<bool(std::uint32_t)> onAttach;
};

} // namespace

class LibusbDriverTest : public QObject {
    Q_OBJECT

private slots:

    void arrivalAndRemoval_data() {
        QTest::addColumn<Watch>("watch");
        QTest::addColumn<bool>("atStart");
        QTest::newRow("present at start") << Watch::Automatic << true;
        QTest::newRow("arriving later") << Watch::Automatic << false;
        QTest::newRow("arriving later, listing every second") << Watch::Polling << false;
    }

    void arrivalAndRemoval() {
        QFETCH(Watch, watch);
        QFETCH(bool, atStart);
        EmulatedBridge bridge;
        if (atStart)
            bridge.add();
        Rig rig(watch);
        QCOMPARE(rig.init(), UsbStatus::Success);
        QVERIFY(rig.attached.empty()); // the caller is not ready for callbacks inside WDU_VB_Init
        if (!atStart)
            bridge.add();
        bridge.setRegister(0x05, 0xA0);
        QTRY_COMPARE(rig.attached.size(), 1u);
        const std::uint32_t handle = rig.attached[0];
        QVERIFY(bridge.interfaceClaimed());
        DeviceInfo info;
        QCOMPARE(rig.driver.WDU_GetDeviceInfo(handle, &info), UsbStatus::Success);
        QCOMPARE(rig.infos.at(0).Descriptor.idProduct, BridgeProductId);
        QCOMPARE(info.ActiveInterfaces.size(), 1u);
        const AlternateSettingInfo& setting = info.ActiveInterfaces[0].ActiveAltSetting;
        QCOMPARE(setting.Descriptor.bNumEndpoints, 2);
        QCOMPARE(setting.Pipes.at(1).Number, 0x82u);
        QCOMPARE(setting.Pipes.at(1).Type, PipeType::Bulk);
        QCOMPARE(rig.readRegister(handle, 0x05), 0xA0);

        bridge.remove();
        QTRY_COMPARE(rig.detached, std::vector<std::uint32_t>{handle});
        QCOMPARE(rig.driver.WDU_GetDeviceInfo(handle, &info), UsbStatus::DeviceGone);
    }

    void secondBridgeIsRefusedAndReleased() {
        EmulatedBridge bridge;
        bridge.add();
        bridge.add();
        bridge.setRegister(0x05, 0x11, 0);
        bridge.setRegister(0x05, 0x22, 1);
        Rig rig;
        std::uint32_t held = 0;
        std::uint32_t setInterfaceStatus = UsbStatus::Other;
        rig.onAttach = [&](std::uint32_t handle) {
            if (held != 0)
                return false;
            held = handle;
            // The handle must already work inside the attach callback.
            setInterfaceStatus = rig.driver.WDU_SetInterface(handle, 0, 0);
            return true;
        };
        QCOMPARE(rig.init(), UsbStatus::Success);
        QTRY_COMPARE(rig.attached.size(), 2u);
        QCOMPARE(setInterfaceStatus, UsbStatus::Success);
        const std::uint32_t refused = rig.attached[0] == held ? rig.attached[1] : rig.attached[0];

        QCOMPARE(int(bridge.interfaceClaimed(0)) + int(bridge.interfaceClaimed(1)), 1);
        DeviceInfo info;
        QCOMPARE(rig.driver.WDU_GetDeviceInfo(refused, &info), UsbStatus::InvalidHandle);
        QCOMPARE(rig.readRegister(held, 0x05), bridge.interfaceClaimed(0) ? 0x11 : 0x22);

        rig.uninit();
        QVERIFY(!bridge.interfaceClaimed(0) && !bridge.interfaceClaimed(1));
        QCOMPARE(rig.driver.WDU_GetDeviceInfo(held, &info), UsbStatus::InvalidHandle);
    }

    void pendingReply_data() {
        QTest::addColumn<std::uint32_t>("timeoutMs");
        QTest::addColumn<bool>("unplug");
        QTest::addColumn<std::uint32_t>("status");
        QTest::newRow("reply never comes") << 100u << false << UsbStatus::Timeout;
        QTest::newRow("unplugged meanwhile") << 20000u << true << UsbStatus::DeviceGone;
    }

    void pendingReply() {
        QFETCH(std::uint32_t, timeoutMs);
        QFETCH(bool, unplug);
        QFETCH(std::uint32_t, status);
        EmulatedBridge bridge;
        bridge.add();
        bridge.setDropReplies(true); // the IN transfer stays pending
        Rig rig;
        QCOMPARE(rig.init(), UsbStatus::Success);
        QTRY_COMPARE(rig.attached.size(), 1u);
        const std::uint32_t handle = rig.attached[0];
        QByteArray request = QByteArray::fromHex("013907");
        QByteArray reply(3, 0);
        std::uint32_t done = 0xDEAD;
        QCOMPARE(rig.transfer(handle, 0x02, request, done), UsbStatus::Success);

        // Unplugged after 10 s at the latest, so that a lost time-out fails the test instead of hanging it.
        std::atomic<bool> returned = false;
        std::thread unplugger([&] {
            for (int i = 0; i < 2000 && !returned && !(unplug && bridge.pendingInTransfers() > 0); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            bridge.remove();
        });
        QElapsedTimer clock;
        clock.start();
        const std::uint32_t result = rig.transfer(handle, 0x82, reply, done, timeoutMs);
        const qint64 elapsed = clock.elapsed();
        returned = true;
        unplugger.join();
        QCOMPARE(result, status);
        QCOMPARE(done, 0u);
        if (!unplug) // ample slack for a loaded machine
            QVERIFY2(elapsed >= timeoutMs && elapsed < 1000, qPrintable(QString::number(elapsed)));

        // Both end unplugged; plugged in again, the bridge works under a new handle and the old one stays
        // dead.
        QTRY_COMPARE(rig.detached, std::vector<std::uint32_t>{handle});
        bridge.setDropReplies(false);
        bridge.readd();
        QTRY_COMPARE(rig.attached.size(), 2u);
        QCOMPARE(rig.readRegister(rig.attached[1], 0x07), 0x00);
        QCOMPARE(rig.transfer(handle, 0x02, request, done), UsbStatus::DeviceGone);
    }

    void uninitDropsQueuedCallbacks() {
        EmulatedBridge bridge;
        bridge.add();
        bridge.add();
        Rig rig;
        QCOMPARE(rig.init(), UsbStatus::Success); // both arrivals are queued now
        rig.uninit();
        QTest::qWait(100);
        QVERIFY(rig.attached.empty());

        // Closed from inside a callback, the layer must not crash nor offer the second bridge.
        rig.onAttach = [&rig](std::uint32_t) {
            rig.uninit();
            return true;
        };
        QCOMPARE(rig.init(), UsbStatus::Success);
        QTRY_COMPARE(rig.attached.size(), 1u);
        QTest::qWait(100);
        QCOMPARE(rig.attached.size(), 1u);
    }

    void deniedBridgeIsOfferedAndExplained() {
        EmulatedBridge bridge;
        bridge.add();
        QVERIFY(QFile::setPermissions(bridge.nodeFile(), {}));
        Rig rig;
        QCOMPARE(rig.init(), UsbStatus::Success);
        QTRY_COMPARE(rig.attached.size(), 1u);
        QCOMPARE(rig.infos.at(0).Descriptor.idVendor, BridgeVendorId);
        DeviceInfo info;
        QCOMPARE(rig.driver.WDU_GetDeviceInfo(rig.attached[0], &info), UsbStatus::NoPermission);
        QByteArray request = QByteArray::fromHex("013900");
        std::uint32_t done = 0xDEAD;
        QCOMPARE(rig.transfer(rig.attached[0], 0x02, request, done), UsbStatus::NoPermission);
        QCOMPARE(done, 0u);
        QVERIFY(bridge.outTransfers().empty());
        QVERIFY(rig.driver.VB_Stat2Str(UsbStatus::NoPermission).contains("60-regbench.rules"));
        bridge.remove();
        QTRY_COMPARE(rig.detached, rig.attached);
    }
};

int main(int argc, char** argv) {
    if (!EmulatedBridge::underWrapper()) {
        std::fputs("Not under umockdev-wrapper: skipped\n", stderr);
        return 77;
    }
    // Root ignores file modes, so its rights are given away before anything is emulated.
    if (geteuid() == 0) {
        constexpr uid_t Nobody = 65534;
        if (setgroups(0, nullptr) != 0 || setgid(Nobody) != 0 || setuid(Nobody) != 0) {
            std::perror("cannot give up root's rights");
            return 1;
        }
    }
    QCoreApplication app(argc, argv);
    LibusbDriverTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "LibusbDriverTest.moc"
