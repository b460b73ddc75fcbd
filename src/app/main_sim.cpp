#include "app/WindowProgram.h"
#include "commands/CommandProgram.h"
#include "commands/Interrupts.h"
#include "session/Session.h"
#include "usb/sim/SimFaults.h"
#include "usb/sim/SimUsbDriver.h"

// The simulated bridge and chip: for trying the tool, demonstrations and tests; the window, or a command.
int main(int argc, char* argv[]) {
    namespace SimFaults = regbench::usb::sim::SimFaults;
    int status = 0;
    const auto options = regbench::app::readStartOptions(argc, argv, {false, SimFaults::names()}, status);
    if (!options)
        return status;
    if (!options->command.isEmpty())
        regbench::commands::Interrupts::block();
    const auto application = regbench::app::makeApplication(argc, argv, *options);
    regbench::usb::sim::SimUsbDriver driver;
    SimFaults::apply(driver, options->faults);
    regbench::session::Session session(driver);
    // The simulated chip sits wherever the program is told its chip is.
    QObject::connect(&session, &regbench::session::Session::chipAddressChanged,
                     [&driver](std::uint8_t address) { driver.setChipAddress(address); });
    return options->command.isEmpty() ? regbench::app::runWindow(session, *options)
                                      : regbench::commands::runCommand(session, *options);
}
