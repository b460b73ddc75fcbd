#include "app/WindowProgram.h"
#include "session/Session.h"
#include "usb/libusb/LibusbDriver.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    int status = 0;
    const auto options = regbench::app::readStartOptions(argc, argv, {}, status);
    if (!options)
        return status;
    QApplication application(argc, argv);
    regbench::usb::libusb::LibusbDriver driver;
    regbench::session::Session session(driver);
    return regbench::app::runWindow(session, *options);
}
