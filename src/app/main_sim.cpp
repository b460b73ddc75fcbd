#include "app/WindowProgram.h"
#include "session/Session.h"
#include "usb/sim/SimFaults.h"
#include "usb/sim/SimUsbDriver.h"

#include <QApplication>

// The window on the simulated bridge and chip: for trying the tool, demonstrations and tests.
int main(int argc, char* argv[]) {
    namespace SimFaults = regbench::usb::sim::SimFaults;
    int status = 0;
    const auto options = regbench::app::readStartOptions(argc, argv, {false, SimFaults::names()}, status);
    if (!options)
        return status;
    QApplication application(argc, argv);
    regbench::usb::sim::SimUsbDriver driver;
    SimFaults::apply(driver, options->faults);
    regbench::session::Session session(driver);
    // The simulated chip sits wherever the program is told its chip is.
    QObject::connect(&session, &regbench::session::Session::chipAddressChanged,
                     [&driver](std::uint8_t address) { driver.setChipAddress(address); });
    return regbench::app::runWindow(session, *options);
}
