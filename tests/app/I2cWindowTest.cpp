// The window on the i2c-dev backend, against an adapter emulated at the kernel interface: the start-up
// report, then one read and one write with their bytes on the bus.
#include "EmulatedAdapter.h"
#include "support/WindowRig.h"

#include "usb/i2cdev/I2cDevDriver.h"

#include <QLineEdit>

using regbench::tests::EmulatedAdapter;

class I2cWindowTest : public QObject {
    Q_OBJECT
private slots:
    void readAndWriteOverI2cDev() {
        EmulatedAdapter adapter; // before the layer opens its udev monitor
        adapter.add();
        adapter.edit([](EmulatedAdapter::Bus& bus) { bus.registers[5] = 0xA0; });
        regbench::usb::i2cdev::I2cDevDriver driver;
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

        window.cbRead_Click(0);
        QCOMPARE(adapter.state().transactions, QStringList{"w1c 05, r1c[1]"});
        auto* text = window.findChild<QLineEdit*>(QStringLiteral("tbRegdata_0"));
        QCOMPARE(text->text(), QStringLiteral("A0"));
        QCOMPARE(window.registerMap().RegValues.at(5), std::int16_t{0xA0});

        QTest::keyClick(text, Qt::Key_A, Qt::ControlModifier); // select all
        QTest::keyClicks(text, QStringLiteral("3C"));
        window.cbWrite_Click(0);
        QCOMPARE(adapter.state().transactions, (QStringList{"w1c 05, r1c[1]", "w1c 05 3c"}));
        QCOMPARE(adapter.state().registers[5], std::uint8_t{0x3C});
        QCOMPARE(window.activityLog().text(), QStringLiteral("Reading register 0x05 = 0xA0 successful\r\n"
                                                             "Writing register 0x05 = 0x3C successful\r\n"));
    }
};

int main(int argc, char* argv[]) {
    if (!EmulatedAdapter::underWrapper()) {
        return 77; // nothing is emulated outside umockdev's wrapper
    }
    QApplication application(argc, argv);
    I2cWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "I2cWindowTest.moc"
