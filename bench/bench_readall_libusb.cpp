// Read All over 256 named registers through the libusb backend, against a bridge emulated by umockdev.
// Run under umockdev-wrapper. Prints its figures.
#include "BenchSupport.h"
#include "EmulatedBridge.h"

#include "app/MainWindow.h"
#include "session/Session.h"
#include "usb/libusb/LibusbDriver.h"

#include <QApplication>
#include <QTest>

#include <cstdio>

using namespace regbench::bench;

int main(int argc, char* argv[]) {
    if (outsideUmockdev())
        return 77;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    regbench::tests::EmulatedBridge bridge;
    bridge.add();
    QApplication application(argc, argv);
    regbench::usb::libusb::LibusbDriver driver;
    QTemporaryDir dir;
    writeMap(dir, fullMap());
    regbench::session::Session session(driver);
    regbench::app::MainWindow window(session, dir.filePath(QStringLiteral("tabdefs.csv")));
    window.showCentred();
    if (!QTest::qWaitFor([&] { return window.startUpDone(); }, 10000) ||
        !window.bridgeLink().DeviceAttached) {
        std::printf("the emulated bridge was not found\n");
        return 1;
    }
    std::printf("== Read All over 256 named registers, libusb with umockdev\n");
    std::printf(
        "   (umockdev's emulated node keeps libusb's event thread busy: CPU includes that artefact)\n");
    for (int run = 0; run < 3; ++run) {
        const double pauses = millisecondsOf([&window] {
            for (int i = 0; i < 256; ++i)
                window.Pause(10);
        });
        const double cpuBefore = cpuMilliseconds();
        const double total = millisecondsOf([&window] { window.cbReadAllRegs_Click(); });
        const double cpu = cpuMilliseconds() - cpuBefore;
        std::printf(
            "  run %d: total %.1f ms, 256 pauses alone %.1f ms, beyond the pause %.3f ms per register, "
            "CPU %.1f ms (%.1f%% of a core)\n",
            run + 1, total, pauses, (total - pauses) / 256, cpu, 100.0 * cpu / total);
        window.cmdClearLog_Click();
    }
    return 0;
}
