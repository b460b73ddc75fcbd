// The window on the real libusb backend, against a bridge emulated at the kernel interface: the start-up
// report, then one read and one write with their bytes on the wire.
#include "EmulatedBridge.h"
#include "support/WindowRig.h"

#include "panels/RegisterPanel.h"
#include "panels/UpDown.h"
#include "usb/libusb/LibusbDriver.h"

#include <QLineEdit>

using regbench::tests::EmulatedBridge;

class LibusbWindowTest : public QObject {
    Q_OBJECT
private slots:
    void readAndWriteOverLibusb() {
        EmulatedBridge bridge; // before the layer opens libusb
        bridge.add();
        bridge.setRegister(5, 0xA0);
        regbench::usb::libusb::LibusbDriver driver;
        regbench::tests::WindowRig rig;
        QVERIFY(rig.start(&driver));
        QCOMPARE(rig.logLines(), (QStringList{"USB-to-I2C driver initialization successful.",
                                              "USB-to-I2C interface detected.", QString()}));
        rig.window->cmdClearLog_Click();
        bridge.clearRecords();
        rig.window->cbRead_Click(0);
        rig.window->panel(0).upDown()->setValue(0x3C);
        rig.window->cbWrite_Click(0);
        QCOMPARE(bridge.outTransfers(),
                 (std::vector<QByteArray>{QByteArray("\x01\x39\x05", 3), QByteArray("\x00\x38\x05\x3C", 4)}));
        QCOMPARE(bridge.inRequests(), (std::vector<std::uint32_t>{3, 4}));
        QCOMPARE(bridge.registerValue(5), std::uint8_t{0x3C});
        QCOMPARE(rig.logLines(), (QStringList{"Reading register 0x05 = 0xA0 successful",
                                              "Writing register 0x05 = 0x3C successful"}));
    }
};

int main(int argc, char* argv[]) {
    if (!EmulatedBridge::underWrapper())
        return 77; // nothing is emulated outside umockdev's wrapper
    QApplication application(argc, argv);
    LibusbWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "LibusbWindowTest.moc"
