#include "app/MainWindow.h"
#include "session/Session.h"
#include "usb/i2cdev/I2cDevDriver.h"

#include <QApplication>

// The window on any I2C adapter that Linux exposes as /dev/i2c-N, standing in for the bridge.
int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    regbench::usb::i2cdev::I2cDevDriver driver;
    regbench::session::Session session(driver);
    regbench::app::MainWindow window(session, QCoreApplication::applicationDirPath());
    window.showCentred();
    return QApplication::exec();
}
