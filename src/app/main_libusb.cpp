#include "app/WindowProgram.h"
#include "commands/CommandProgram.h"
#include "commands/Interrupts.h"
#include "session/Session.h"
#include "usb/libusb/LibusbDriver.h"

// The real bridge through libusb; the window, or a command.
int main(int argc, char* argv[]) {
    int status = 0;
    const auto options = regbench::app::readStartOptions(argc, argv, {}, status);
    if (!options)
        return status;
    if (!options->command.isEmpty())
        regbench::commands::Interrupts::block(); // before libusb's event thread
    const auto application = regbench::app::makeApplication(argc, argv, *options);
    regbench::usb::libusb::LibusbDriver driver;
    regbench::session::Session session(driver);
    return options->command.isEmpty() ? regbench::app::runWindow(session, *options)
                                      : regbench::commands::runCommand(session, *options);
}
