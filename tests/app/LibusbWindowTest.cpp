// The window on the real libusb backend, against a bridge emulated at the kernel interface: the start-up
// report, then one read and one write with their bytes on the wire.
#include "EmulatedBridge.h"
#include "support/WindowRig.h"

#include "panels/RegisterPanel.h"
#include "panels/UpDown.h"
#include "usb/libusb/LibusbDriver.h"

#include <QLineEdit>

#include <cstdlib>

using regbench::tests::EmulatedBridge;

class LibusbWindowTest : public QObject {
    Q_OBJECT
private slots:
    void readAndWriteOverLibusb() {
        EmulatedBridge bridge; // before the layer opens libusb
        bridge.add();
        bridge.setRegister(5, 0xA0);
        regbench::usb::libusb::LibusbDriver driver;
        QTemporaryDir dir;
        QFile map(dir.filePath(QStringLiteral("tabdefs.csv")));
        QVERIFY(map.open(QIODevice::WriteOnly));
        map.write(regbench::tests::testMap());
        map.close();
        regbench::app::MainWindow window(driver, dir.path());
        window.showCentred();
        QVERIFY(QTest::qWaitFor([&] { return window.startUpDone(); }, 10000));
        QCOMPARE(window.activityLog().text(),
                 QStringLiteral("USB-to-I2C driver initialization successful.\r\n"
                                "USB-to-I2C interface detected.\r\n\r\n"));
        window.cmdClearLog_Click();
        bridge.clearRecords();

        window.cbRead_Click(0);
        QCOMPARE(bridge.outTransfers(), std::vector<QByteArray>{QByteArray("\x01\x39\x05", 3)});
        QCOMPARE(bridge.inRequests(), std::vector<std::uint32_t>{3});
        QCOMPARE(window.findChild<QLineEdit*>(QStringLiteral("tbRegdata_0"))->text(), QStringLiteral("A0"));
        QCOMPARE(window.registerMap().RegValues.at(5), std::int16_t{0xA0});

        bridge.clearRecords();
        window.panel(0).upDown()->setValue(0x3C);
        window.cbWrite_Click(0);
        QCOMPARE(bridge.outTransfers(), std::vector<QByteArray>{QByteArray("\x00\x38\x05\x3C", 4)});
        QCOMPARE(bridge.inRequests(), std::vector<std::uint32_t>{4});
        QCOMPARE(bridge.registerValue(5), std::uint8_t{0x3C});
        QCOMPARE(window.activityLog().text(), QStringLiteral("Reading register 0x05 = 0xA0 successful\r\n"
                                                             "Writing register 0x05 = 0x3C successful\r\n"));
    }
};

int main(int argc, char* argv[]) {
    if (!EmulatedBridge::underWrapper()) {
        return 77; // nothing is emulated outside umockdev's wrapper
    }
    QApplication application(argc, argv);
    LibusbWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "LibusbWindowTest.moc"
