// The window on the i2c-dev backend, against an adapter emulated at the kernel interface: one read and one
// write with their bytes on the bus.
#include "EmulatedAdapter.h"
#include "support/EmulatedTestMain.h"
#include "support/WindowRig.h"

#include "panels/RegisterPanel.h"
#include "panels/UpDown.h"
#include "usb/i2cdev/I2cDevDriver.h"

using regbench::tests::EmulatedAdapter;

class I2cWindowTest : public QObject {
    Q_OBJECT
private slots:
    void readAndWrite() {
        EmulatedAdapter adapter; // before the layer opens its udev monitor
        adapter.add();
        adapter.edit([](auto& bus) { bus.registers[5] = 0xA0; });
        regbench::usb::i2cdev::I2cDevDriver driver;
        regbench::tests::WindowRig rig;
        QVERIFY(rig.start(&driver)); // its start-up report is the simulator's, checked in WindowTest
        rig.window->cmdClearLog_Click();
        rig.window->cbRead_Click(0);
        QCOMPARE(rig.value(5), 0xA0);
        rig.window->panel(0).upDown()->setValue(0x3C);
        rig.window->cbWrite_Click(0);
        QCOMPARE(rig.logLines(), (QStringList{"Reading register 0x05 = 0xA0 successful",
                                              "Writing register 0x05 = 0x3C successful"}));
        QCOMPARE(adapter.state().transactions, (QStringList{"w1c 05, r1c[1]", "w1c 05 3c"}));
        QCOMPARE(adapter.state().registers[5], std::uint8_t{0x3C});
    }
};

int main(int argc, char* argv[]) {
    return regbench::tests::runEmulated<QApplication, I2cWindowTest>(argc, argv);
}

#include "I2cWindowTest.moc"
