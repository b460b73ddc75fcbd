#include "app/WindowProgram.h"
#include "session/Session.h"
#include "usb/i2cdev/I2cDevDriver.h"

#include <QApplication>

// The window on any I2C adapter that Linux exposes as /dev/i2c-N, standing in for the bridge.
int main(int argc, char* argv[]) {
    int status = 0;
    const auto options = regbench::app::readStartOptions(argc, argv, {true, {}}, status);
    if (!options)
        return status;
    QApplication application(argc, argv);
    regbench::usb::i2cdev::I2cDevDriver driver;
    regbench::session::Session session(driver);
    if (options->bus)
        driver.chooseBus(*options->bus, [&session](const QString& line) { session.LogLine(line); });
    return regbench::app::runWindow(session, *options);
}
