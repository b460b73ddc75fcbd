#include "app/MainWindow.h"
#include "bridge/LibusbDriver.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    regbench::bridge::LibusbDriver driver;
    regbench::app::MainWindow window(driver, QCoreApplication::applicationDirPath());
    window.showCentred();
    return QApplication::exec();
}
