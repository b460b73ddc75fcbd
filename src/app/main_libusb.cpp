#include "app/MainWindow.h"
#include "usb/libusb/LibusbDriver.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    regbench::usb::libusb::LibusbDriver driver;
    regbench::app::MainWindow window(driver, QCoreApplication::applicationDirPath());
    window.showCentred();
    return QApplication::exec();
}
