// Figures for the window: the pause against a busy wait, logging, start-up time, idle CPU and Read All on
// the simulated bridge. Prints its figures; it asserts nothing.
#include "BenchSupport.h"

#include "app/ActivityLog.h"
#include "app/MainWindow.h"
#include "usb/libusb/LibusbDriver.h"
#include "usb/sim/SimUsbDriver.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <memory>
#include <unistd.h>

using regbench::app::MainWindow;
using regbench::bench::cpuMilliseconds;
using regbench::bench::summarise;

namespace {

std::unique_ptr<MainWindow> startedWindow(regbench::usb::UsbDriver& driver, const QTemporaryDir& dir,
                                          const QByteArray& map) {
    QFile file(dir.filePath(QStringLiteral("tabdefs.csv")));
    file.open(QIODevice::WriteOnly);
    file.write(map);
    file.close();
    auto window = std::make_unique<MainWindow>(driver, dir.path());
    window->showCentred();
    if (!QTest::qWaitFor([&] { return window->startUpDone(); }, 10000)) {
        std::printf("start-up did not finish\n");
    }
    return window;
}

void busyWait(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QCoreApplication::processEvents();
    }
}

template <typename Wait> void measureWait(const char* name, int ms, int runs, Wait wait) {
    std::vector<double> elapsed;
    const double cpuBefore = cpuMilliseconds();
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        wait(ms);
        elapsed.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    }
    const double cpuPerPause = (cpuMilliseconds() - cpuBefore) / runs;
    const auto s = summarise(elapsed);
    std::printf("%-10s %5d ms x %3d: mean %8.3f ms, max %8.3f ms, earliest %8.3f ms, CPU %7.3f ms per pause "
                "(%.1f%% of a core)\n",
                name, ms, runs, s.mean, s.max, s.min, cpuPerPause, 100.0 * cpuPerPause / s.mean);
}

void benchPause() {
    regbench::usb::sim::SimUsbDriver sim;
    QTemporaryDir dir;
    auto window = startedWindow(sim, dir, "TABNAME,A\r\nREG,1,X\r\n");
    std::printf("== Pause, beside a busy-wait loop\n");
    measureWait("Pause", 10, 200, [&](int ms) { window->Pause(ms); });
    measureWait("busy-wait", 10, 200, busyWait);
    measureWait("Pause", 1000, 5, [&](int ms) { window->Pause(ms); });
    measureWait("busy-wait", 1000, 5, busyWait);
}

void benchLog() {
    regbench::app::ActivityLog log;
    log.resize(457, 105);
    log.show();
    std::printf("== Logging 100,000 lines\n");
    QElapsedTimer clock;
    clock.start();
    double previous = 0;
    for (int block = 0; block < 10; ++block) {
        for (int i = 0; i < 10000; ++i) {
            log.LogLine(QStringLiteral("Reading register 0x%1 = 0xA0 successful").arg(i % 256, 2, 16));
        }
        const double now = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        std::printf("  lines %6d-%6d: %8.1f ms\n", block * 10000 + 1, (block + 1) * 10000, now - previous);
        previous = now;
    }
    std::printf("  total %.1f ms, %.2f us per line\n", previous, previous * 1000.0 / 100000);
}

void benchIdle(const char* name, regbench::usb::UsbDriver& driver) {
    QTemporaryDir dir;
    auto window = startedWindow(driver, dir, "TABNAME,A\r\nREG,1,X\r\n");
    const double before = cpuMilliseconds();
    QTest::qWait(5000);
    const double used = cpuMilliseconds() - before;
    std::printf("  %-30s %7.1f ms CPU in 5 s idle (%.2f%% of a core)\n", name, used, used / 50.0);
}

void benchReadAll() {
    regbench::usb::sim::SimUsbDriver sim;
    QTemporaryDir dir;
    auto window = startedWindow(sim, dir, regbench::bench::fullMap());
    std::printf("== Read All over 256 named registers, simulated bridge\n");
    for (int run = 0; run < 3; ++run) {
        // The pauses alone, measured the same way, to subtract.
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 256; ++i) {
            window->Pause(10);
        }
        const double pauses = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        const double cpuBefore = cpuMilliseconds();
        clock.restart();
        window->cbReadAllRegs_Click();
        const double total = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        const double cpu = cpuMilliseconds() - cpuBefore;
        std::printf(
            "  run %d: total %.1f ms, 256 pauses alone %.1f ms, beyond the pause %.3f ms per register, "
            "CPU %.1f ms (%.1f%% of a core)\n",
            run + 1, total, pauses, (total - pauses) / 256, cpu, 100.0 * cpu / total);
        window->cmdClearLog_Click();
    }
}

// Process start to window shown: a child process of this benchmark measures itself.
double processStartMilliseconds() {
    std::ifstream stat("/proc/self/stat");
    std::string field;
    for (int i = 0; i < 22 && stat >> field; ++i) {
    }
    const double startTicks = std::stod(field);
    timespec boot{};
    clock_gettime(CLOCK_BOOTTIME, &boot);
    const double nowMs = boot.tv_sec * 1000.0 + boot.tv_nsec / 1e6;
    return nowMs - startTicks * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Notes when a widget is first painted: the moment the user sees the window.
class FirstPaint : public QObject {
public:
    FirstPaint(QObject* target, const QElapsedTimer& clock) : target_(target), clock_(clock) {}
    double atMs = -1;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (atMs < 0 && watched == target_ && event->type() == QEvent::Paint) {
            atMs = static_cast<double>(clock_.nsecsElapsed()) / 1e6;
        }
        return false;
    }

private:
    QObject* target_;
    const QElapsedTimer& clock_;
};

int startupChild(int argc, char* argv[]) {
    const double sinceStart = processStartMilliseconds();
    QElapsedTimer clock;
    clock.start();
    QApplication application(argc, argv);
    regbench::usb::sim::SimUsbDriver sim;
    QTemporaryDir dir;
    QFile::copy(QCoreApplication::applicationDirPath() + QStringLiteral("/tabdefs.csv"),
                dir.filePath(QStringLiteral("tabdefs.csv")));
    MainWindow window(sim, dir.path());
    FirstPaint firstPaint(&window, clock);
    application.installEventFilter(&firstPaint);
    window.showCentred();
    // The driver start-up's one-second wait follows the first paint; the window is up long before it ends.
    if (!QTest::qWaitFor([&] { return window.startUpDone(); }, 10000) || firstPaint.atMs < 0) {
        return 1;
    }
    std::printf("%.3f\n", sinceStart + firstPaint.atMs);
    return 0;
}

void benchStartup(const QString& self) {
    std::vector<double> samples;
    for (int i = 0; i < 10; ++i) {
        QProcess child;
        child.start(self, {QStringLiteral("--startup-child")});
        child.waitForFinished(20000);
        samples.push_back(child.readAllStandardOutput().trimmed().toDouble());
    }
    const auto s = summarise(samples);
    std::printf(
        "== Process start to window shown (offscreen), 10 runs: median %.1f ms, min %.1f ms, max %.1f ms\n",
        s.median, s.min, s.max);
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc > 1 && QByteArray(argv[1]) == "--startup-child") {
        return startupChild(argc, argv);
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    benchPause();
    benchLog();
    std::printf("== CPU used by an idle window\n");
    {
        regbench::usb::sim::SimUsbDriver sim;
        benchIdle("simulated bridge:", sim);
    }
    {
        regbench::usb::libusb::LibusbDriver usb;
        benchIdle("libusb, no bridge:", usb);
    }
    benchReadAll();
    benchStartup(QCoreApplication::applicationFilePath());
    return 0;
}
