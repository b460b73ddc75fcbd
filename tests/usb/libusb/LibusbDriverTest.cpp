// The libusb backend's own ways against bridges emulated at the kernel interface: the claim of the interface
// and a node without permission. What every backend does is checked in tests/usb/UsbDriverContractTest.cpp.
#include "usb/libusb/LibusbDriver.h"
#include "EmulatedBridge.h"
#include "support/EmulatedTestMain.h"
#include "support/LayerRig.h"

#include <QCoreApplication>
#include <QTest>

using namespace regbench::usb;
using regbench::tests::EmulatedBridge;
using regbench::tests::Layer;

class LibusbDriverTest : public QObject {
    Q_OBJECT

private slots:
    // Only the accepted bridge keeps its interface claimed, and closing releases it.
    void claimsOnlyTheHeldBridge() {
        EmulatedBridge bridge;
        bridge.add();
        bridge.add();
        libusb::LibusbDriver backend;
        Layer rig(backend);
        rig.onAttach = [&rig](std::uint32_t) { return rig.attached.size() == 1; };
        QCOMPARE(rig.init(), UsbStatus::Success);
        QTRY_COMPARE(rig.attached.size(), 2u);
        QCOMPARE(int(bridge.state(0).claimed) + int(bridge.state(1).claimed), 1);
        rig.uninit();
        QVERIFY(!bridge.state(0).claimed && !bridge.state(1).claimed);
    }

    // Offered all the same, for the rule's sake. Runs without root's rights (see main), so that modes apply.
    void deniedBridgeIsOfferedAndExplained() {
        EmulatedBridge bridge;
        bridge.add();
        QVERIFY(bridge.deny(true));
        libusb::LibusbDriver backend;
        Layer rig(backend);
        QCOMPARE(rig.init(), UsbStatus::Success);
        QTRY_COMPARE(rig.attached.size(), 1u);
        DeviceInfo info;
        QCOMPARE(rig.driver.WDU_GetDeviceInfo(rig.attached[0], &info), UsbStatus::NoPermission);
        QCOMPARE(rig.exchange(rig.attached[0], "013900"), "error e0000005");
        QCOMPARE(bridge.ioctls(), 0);
        QVERIFY(rig.driver.VB_Stat2Str(UsbStatus::NoPermission).contains("60-regbench.rules"));
    }
};

int main(int argc, char* argv[]) {
    return regbench::tests::runEmulated<QCoreApplication, LibusbDriverTest>(argc, argv, true);
}

#include "LibusbDriverTest.moc"
