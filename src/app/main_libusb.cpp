#include "app/MainWindow.h"
#include "session/Session.h"
#include "usb/libusb/LibusbDriver.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    regbench::usb::libusb::LibusbDriver driver;
    regbench::session::Session session(driver);
    regbench::app::MainWindow window(session, QCoreApplication::applicationDirPath());
    window.showCentred();
    return QApplication::exec();
}
