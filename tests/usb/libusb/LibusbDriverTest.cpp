// The libusb backend against bridges emulated at the kernel interface: arrival and removal, a second bridge,
// replies that never come or are cut off by an unplug, closing at awkward moments, and a node without
// permission.
#include "usb/libusb/LibusbDriver.h"
#include "EmulatedBridge.h"
#include "support/EmulatedTestMain.h"
#include "support/LayerRig.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>

using namespace regbench::usb;
using regbench::tests::EmulatedBridge;
using regbench::usb::libusb::LibusbDriver;
using Watch = LibusbDriver::DeviceWatch;

Q_DECLARE_METATYPE(Watch)

using Rig = regbench::tests::LayerRig<LibusbDriver>;

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
        bridge.edit([](auto& b) { b.registers[0x05] = 0xA0; });
        QTRY_COMPARE(rig.attached.size(), 1u);
        const std::uint32_t handle = rig.attached[0];
        QVERIFY(bridge.state().claimed);
        DeviceInfo info;
        QCOMPARE(rig.driver.WDU_GetDeviceInfo(handle, &info), UsbStatus::Success);
        QCOMPARE(rig.infos.at(0).Descriptor.idProduct, BridgeProductId);
        QCOMPARE(info.ActiveInterfaces.size(), 1u);
        const AlternateSettingInfo& setting = info.ActiveInterfaces[0].ActiveAltSetting;
        QCOMPARE(setting.Descriptor.bNumEndpoints, 2);
        QCOMPARE(setting.Pipes.at(1).Number, 0x82u);
        QCOMPARE(setting.Pipes.at(1).Type, PipeType::Bulk);
        QCOMPARE(rig.exchange(handle, "013905"), "00a0");

        bridge.remove();
        QTRY_COMPARE(rig.detached, std::vector<std::uint32_t>{handle});
        QCOMPARE(rig.driver.WDU_GetDeviceInfo(handle, &info), UsbStatus::DeviceGone);
    }

    void secondBridgeIsRefusedAndReleased() {
        EmulatedBridge bridge;
        bridge.add();
        bridge.add();
        bridge.edit([](auto& b) { b.registers[0x05] = 0x11; }, 0);
        bridge.edit([](auto& b) { b.registers[0x05] = 0x22; }, 1);
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

        QCOMPARE(int(bridge.state(0).claimed) + int(bridge.state(1).claimed), 1);
        DeviceInfo info;
        QCOMPARE(rig.driver.WDU_GetDeviceInfo(refused, &info), UsbStatus::InvalidHandle);
        QCOMPARE(rig.exchange(held, "013905"), bridge.state(0).claimed ? "0011" : "0022");

        rig.uninit();
        QVERIFY(!bridge.state(0).claimed && !bridge.state(1).claimed);
        QCOMPARE(rig.driver.WDU_GetDeviceInfo(held, &info), UsbStatus::InvalidHandle);
    }

    void pendingReply_data() {
        QTest::addColumn<std::uint32_t>("timeoutMs");
        QTest::addColumn<bool>("unplug");
        QTest::addColumn<bool>("close");
        QTest::addColumn<std::uint32_t>("status");
        QTest::newRow("reply never comes") << 100u << false << false << UsbStatus::Timeout;
        QTest::newRow("unplugged meanwhile") << 20000u << true << false << UsbStatus::DeviceGone;
        // As the window does when Quit is clicked while a transfer waits.
        QTest::newRow("closed meanwhile") << 20000u << false << true << UsbStatus::InvalidHandle;
    }

    void pendingReply() {
        QFETCH(std::uint32_t, timeoutMs);
        QFETCH(bool, unplug);
        QFETCH(bool, close);
        QFETCH(std::uint32_t, status);
        EmulatedBridge bridge;
        bridge.add();
        bridge.edit([](auto& b) { b.dropReplies = true; }); // the IN transfer stays pending
        Rig rig;
        QCOMPARE(rig.init(), UsbStatus::Success);
        QTRY_COMPARE(rig.attached.size(), 1u);
        const std::uint32_t handle = rig.attached[0];
        QByteArray request = QByteArray::fromHex("013907");
        QByteArray reply(3, 0);
        QCOMPARE(rig.transfer(handle, 0x02, request), UsbStatus::Success);

        // Unplugged after 10 s at the latest, so that a lost time-out fails the test instead of hanging it.
        std::atomic<bool> returned = false;
        std::thread unplugger([&] {
            for (int i = 0; i < 2000 && !returned && !(unplug && bridge.state().pendingIns > 0); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            bridge.remove();
        });
        // The wait handles events: a timer can close the layer, which ends the transfer.
        if (close)
            QTimer::singleShot(50, [&rig] { rig.uninit(); });
        QElapsedTimer clock;
        clock.start();
        const std::uint32_t result = rig.transfer(handle, 0x82, reply, timeoutMs);
        const qint64 elapsed = clock.elapsed();
        returned = true;
        unplugger.join();
        QCOMPARE(result, status);
        QVERIFY(reply.isEmpty());
        if (!unplug) // ample slack for a loaded machine
            QVERIFY2(elapsed >= (close ? 50 : timeoutMs) && elapsed < 1000,
                     qPrintable(QString::number(elapsed)));
        if (close)
            return;

        // Both end unplugged; plugged in again, the bridge works under a new handle and the old one stays
        // dead.
        QTRY_COMPARE(rig.detached, std::vector<std::uint32_t>{handle});
        bridge.add();
        QTRY_COMPARE(rig.attached.size(), 2u);
        QCOMPARE(rig.exchange(rig.attached[1], "013907"), "0000");
        QCOMPARE(rig.transfer(handle, 0x02, request), UsbStatus::DeviceGone);
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
        QCOMPARE(rig.transfer(rig.attached[0], 0x02, request), UsbStatus::NoPermission);
        QVERIFY(request.isEmpty());
        QVERIFY(bridge.state().outs.empty());
        QVERIFY(rig.driver.VB_Stat2Str(UsbStatus::NoPermission).contains("60-regbench.rules"));
        bridge.remove();
        QTRY_COMPARE(rig.detached, rig.attached);
    }
};

int main(int argc, char* argv[]) {
    return regbench::tests::runEmulated<QCoreApplication, LibusbDriverTest>(argc, argv, true);
}

#include "LibusbDriverTest.moc"
