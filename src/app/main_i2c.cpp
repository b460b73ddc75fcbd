#include "app/WindowProgram.h"
#include "commands/CommandProgram.h"
#include "commands/Interrupts.h"
#include "session/Session.h"
#include "usb/i2cdev/I2cDevDriver.h"

// Any I2C adapter that Linux exposes as /dev/i2c-N, standing in for the bridge; the window, or a command.
int main(int argc, char* argv[]) {
    int status = 0;
    const auto options = regbench::app::readStartOptions(argc, argv, {true, {}}, status);
    if (!options)
        return status;
    if (!options->command.isEmpty())
        regbench::commands::Interrupts::block(); // before the adapters' threads
    const auto application = regbench::app::makeApplication(argc, argv, *options);
    regbench::usb::i2cdev::I2cDevDriver driver;
    regbench::session::Session session(driver);
    if (options->bus)
        driver.chooseBus(*options->bus, [&session](const QString& line) { session.LogLine(line); });
    return options->command.isEmpty() ? regbench::app::runWindow(session, *options)
                                      : regbench::commands::runCommand(session, *options);
}
