#include "app/MainWindow.h"
#include "session/Session.h"
#include "usb/sim/SimUsbDriver.h"

#include <QApplication>

// The window on the simulated bridge and chip: for trying the tool, demonstrations and tests.
int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    regbench::usb::sim::SimUsbDriver driver;
    driver.setRecordTransfers(false);
    regbench::session::Session session(driver);
    regbench::app::MainWindow window(session, QCoreApplication::applicationDirPath());
    window.showCentred();
    return QApplication::exec();
}
