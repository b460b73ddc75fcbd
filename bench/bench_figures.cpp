// The figures that matter, each against its goal, in one table. Every measurement runs in a fresh process of
// this program (so memory and start-up are its own), several times; a figure is the median of its runs with
// their spread. Runs offscreen unless QT_QPA_PLATFORM says otherwise.
#include "BenchSupport.h"

#include "app/ActivityLog.h"
#include "app/MainWindow.h"
#include "regmap/MapFile.h"
#include "regmap/RegisterMapReader.h"
#include "usb/sim/SimUsbDriver.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>

using regbench::app::MainWindow;
using namespace regbench::bench;

namespace {

// ---- measurements: each prints "key value" lines on standard output

void report(const char* key, double value) {
    std::printf("%s %.6f\n", key, value);
}

struct StartedWindow {
    QTemporaryDir dir;
    regbench::usb::sim::SimUsbDriver sim;
    std::unique_ptr<MainWindow> window;

    explicit StartedWindow(const QByteArray& map) {
        writeMap(dir, map);
        sim.setRecordTransfers(false);
        window = std::make_unique<MainWindow>(sim, dir.path());
        window->showCentred();
        if (!QTest::qWaitFor([this] { return window->startUpDone(); }, 10000))
            std::exit(3);
        window->cmdClearLog_Click();
    }
};

// Lines as the program writes them, 40 to 78 characters, every sixteenth one empty.
QString logLine(int i) {
    static const QString templates[] = {
        QStringLiteral("Reading register 0x%1 = 0x%2 successful"),
        QStringLiteral("Writing register 0x%1 failed: No ACK from slave. Check power and connections."),
        QStringLiteral("DeviceAttach: Received attach for 0x%1%2 ")};
    if (i % 16 == 15)
        return QString();
    const QString a = QString::number(i % 256, 16).rightJustified(2, u'0').toUpper();
    return QString(templates[i % 3]).replace(QStringLiteral("%1"), a).replace(QStringLiteral("%2"), a);
}

// Appends through the window, letting it handle its events (and so paint) after every line, as the
// program does between the accesses of a long operation.
void measureLog(int lines) {
    StartedWindow w(QByteArrayLiteral("TABNAME,A\r\nREG,1,X\r\n"));
    const double rssBefore = residentBytes();
    qint64 textBytes = 0;
    std::vector<double> tenths;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < lines; ++i) {
        const QString line = logLine(i);
        textBytes += line.toUtf8().size() + 1;
        w.window->LogLine(line);
        QCoreApplication::processEvents();
        if ((i + 1) % (lines / 10) == 0)
            tenths.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e9);
    }
    QTest::qWait(100); // the last frame
    report("log_seconds", tenths.back());
    report("log_last_vs_first_tenth", (tenths[9] - tenths[8]) / tenths[0]);
    report("log_bytes_beyond_text", (residentBytes() - rssBefore - static_cast<double>(textBytes)) / lines);
}

// Against the nominal 10 ms a register, so that a late Pause counts against the goal as well.
void measureReadAll() {
    StartedWindow w(fullMap());
    const double cpuBefore = cpuMilliseconds();
    const double totalMs = millisecondsOf([&w] { w.window->cbReadAllRegs_Click(); });
    report("readall_ms_beyond_floor", totalMs / 256 - 10);
    report("readall_cpu_percent", 100.0 * (cpuMilliseconds() - cpuBefore) / totalMs);
}

void measureReadGroup() {
    StartedWindow w(fullMap());
    const auto us = timeEach(20, [&w](int) { w.window->cbReadRegs_Click(); });
    report("readgroup_ms", summarise(us, 1e-3).median);
}

void measureReader(const QString& folder) {
    const double peakBefore = peakResidentBytes();
    QElapsedTimer clock;
    clock.start();
    const auto loaded = regbench::regmap::MapFile::load(folder);
    const auto result = regbench::regmap::RegisterMapReader::read(loaded.bytes);
    const double ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    const double size = static_cast<double>(loaded.bytes.size());
    report("reader_ms", ms);
    report("reader_us_per_line", 1000.0 * ms / static_cast<double>(loaded.bytes.count('\n')));
    report("reader_peak_per_file_byte", (peakResidentBytes() - peakBefore) / size);
    if (result.map.TabCount < 0)
        std::exit(4); // keeps the work observable
}

void measurePause() {
    StartedWindow w(QByteArrayLiteral("TABNAME,A\r\nREG,1,X\r\n"));
    const double cpuBefore = cpuMilliseconds();
    const Summary s = summarise(timeEach(200, [&w](int) { w.window->Pause(10); }), 1e-3);
    report("pause_mean_ms", s.mean);
    report("pause_earliest_ms", s.min);
    report("pause_cpu_percent", 100.0 * (cpuMilliseconds() - cpuBefore) / (s.mean * 200));
}

void measureIdle() {
    StartedWindow w(QByteArrayLiteral("TABNAME,A\r\nREG,1,X\r\n"));
    report("idle_cpu_ms_per_10s", idleCpuMilliseconds(10000));
}

// Notes when the window is first painted: the moment the user sees it.
class FirstPaint : public QObject {
public:
    FirstPaint(QObject* target, const QElapsedTimer& clock) : target_(target), clock_(clock) {}
    double atMs = -1;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (atMs < 0 && watched == target_ && event->type() == QEvent::Paint)
            atMs = static_cast<double>(clock_.nsecsElapsed()) / 1e6;
        return false;
    }

private:
    QObject* target_;
    const QElapsedTimer& clock_;
};

void measureStartUp(double sinceProcessStartMs, const QElapsedTimer& clock) {
    regbench::usb::sim::SimUsbDriver sim;
    QTemporaryDir dir;
    writeMap(dir, fullMap());
    MainWindow window(sim, dir.path());
    FirstPaint firstPaint(&window, clock);
    QCoreApplication::instance()->installEventFilter(&firstPaint);
    window.showCentred();
    if (!QTest::qWaitFor([&] { return firstPaint.atMs >= 0; }, 10000))
        std::exit(3);
    report("startup_ms", sinceProcessStartMs + firstPaint.atMs);
}

// A bridge that holds its reply for 2 s: the longest the GUI thread goes without running its timer then.
void measureHeldTransfer() {
    StartedWindow w(QByteArrayLiteral("TABNAME,A\r\nREG,1,X\r\n"));
    w.sim.setDropReplies(true);
    w.sim.setTimeoutCap(2000);
    QElapsedTimer clock;
    clock.start();
    double last = 0;
    double longest = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const double now = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        longest = std::max(longest, now - last);
        last = now;
    });
    ticker.start();
    w.window->cbRead_Click(0);
    report("held_stall_ms", std::max(longest, static_cast<double>(clock.nsecsElapsed()) / 1e6 - last));
}

double monotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

// The program as it runs: Read on a bridge that never answers, then Quit 200 ms later. The parent times the
// process's exit from the moment printed here.
int quitDuringHeldTransfer(QApplication& application) {
    QTemporaryDir dir;
    writeMap(dir, QByteArrayLiteral("TABNAME,A\r\nREG,1,X\r\n"));
    regbench::usb::sim::SimUsbDriver sim;
    sim.setRecordTransfers(false);
    MainWindow window(sim, dir.path());
    window.showCentred();
    if (!QTest::qWaitFor([&] { return window.startUpDone(); }, 10000))
        return 3;
    sim.setDropReplies(true);
    auto* quit = window.findChild<QPushButton*>(QStringLiteral("cbQuit"));
    QTimer::singleShot(200, [quit] {
        std::printf("quit_at_monotonic_ms %.3f\n", monotonicMs());
        QTest::mouseClick(quit, Qt::LeftButton);
    });
    QTimer::singleShot(0, [&window] {
        QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("cbRead_0")), Qt::LeftButton);
    });
    return application.exec();
}

int runMeasurement(const QString& name, const QStringList& args) {
    const QMap<QString, std::function<void()>> measurements{
        {"log100k", [] { measureLog(100'000); }},
        {"log1m", [] { measureLog(1'000'000); }},
        {"readall", measureReadAll},
        {"readgroup", measureReadGroup},
        {"reader", [&args] { measureReader(args.value(0)); }},
        {"pause", measurePause},
        {"idle", measureIdle},
        {"held", measureHeldTransfer}};
    const auto found = measurements.find(name);
    if (found == measurements.end())
        return 2;
    (*found)();
    return 0;
}

// ---- the table

struct Figure {
    const char* key;
    const char* what;
    const char* goal;
    std::function<bool(double)> met;
};

struct Measurement {
    QString name;
    QStringList args;
    int runs;
    std::vector<Figure> figures;
};

QMap<QString, std::vector<double>> run(const QString& self, const Measurement& m) {
    QMap<QString, std::vector<double>> values;
    for (int r = 0; r < m.runs; ++r) {
        QProcess child;
        child.start(self, QStringList{QStringLiteral("--measure"), m.name} + m.args);
        if (!child.waitForFinished(600'000) || child.exitCode() != 0) {
            std::fprintf(stderr, "%s: run %d failed\n", qPrintable(m.name), r + 1);
            continue;
        }
        for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
            const QList<QByteArray> parts = line.split(' ');
            if (parts.size() == 2)
                values[QString::fromLatin1(parts[0])].push_back(parts[1].toDouble());
        }
    }
    return values;
}

void printRow(const Figure& f, const std::vector<double>& samples, int& missed) {
    if (samples.empty()) {
        std::printf("%-44s %12s %24s  %-22s %s\n", f.what, "-", "", f.goal, "NOT MEASURED");
        ++missed;
        return;
    }
    const Summary s = summarise(samples);
    const bool met = f.met(s.median);
    missed += met ? 0 : 1;
    char spread[64];
    std::snprintf(spread, sizeof spread, "%.3f .. %.3f", s.min, s.max);
    std::printf("%-44s %12.3f %24s  %-22s %s\n", f.what, s.median, spread, f.goal, met ? "met" : "MISSED");
}

std::vector<Measurement> measurements(const QString& mapFolder32k, const QString& map10MB,
                                      const QString& map100k, const QString& map1M) {
    const auto atMost = [](double limit) { return [limit](double v) { return v <= limit; }; };
    const auto atLeast = [](double limit) { return [limit](double v) { return v >= limit; }; };
    return {
        {"log100k",
         {},
         3,
         {{"log_seconds", "log: 100,000 lines through the window (s)", "<= 0.5", atMost(0.5)}}},
        {"log1m",
         {},
         3,
         {{"log_seconds", "log: 1,000,000 lines through the window (s)", "<= 5", atMost(5)},
          {"log_last_vs_first_tenth", "log: last tenth per line / first tenth", "<= 1.0", atMost(1.0)},
          {"log_bytes_beyond_text", "log: bytes a line beyond its UTF-8 text", "<= 150", atMost(150)}}},
        {"readall",
         {},
         3,
         {{"readall_ms_beyond_floor", "Read All 256: ms a register beyond 10 ms", "<= 0.25", atMost(0.25)},
          {"readall_cpu_percent", "Read All 256: CPU (% of a core)", "<= 5", atMost(5)}}},
        {"readgroup", {}, 3, {{"readgroup_ms", "Read Group, six panels (ms)", "<= 61.5", atMost(61.5)}}},
        {"reader", {mapFolder32k}, 7, {{"reader_ms", "map reader: 32,767 lines (ms)", "<= 10", atMost(10)}}},
        {"reader",
         {map10MB},
         3,
         {{"reader_peak_per_file_byte", "map reader: peak memory / file size (10 MB)", "<= 1.3",
           atMost(1.3)}}},
        {"reader",
         {map100k},
         5,
         {{"reader_us_per_line", "map reader: us a line, 100,000 lines", "(linear)",
           [](double) { return true; }}}},
        {"reader",
         {map1M},
         3,
         {{"reader_us_per_line", "map reader: us a line, 1,000,000 lines", "(linear)",
           [](double) { return true; }}}},
        {"pause",
         {},
         3,
         {{"pause_mean_ms", "Pause(10): mean (ms)", "10 .. 10.5", atMost(10.5)},
          {"pause_earliest_ms", "Pause(10): earliest (ms)", ">= 10 (never early)", atLeast(10)},
          {"pause_cpu_percent", "Pause(10): CPU (% of a core)", "< 1", atMost(1)}}},
        {"idle", {}, 3, {{"idle_cpu_ms_per_10s", "idle window: CPU ms in 10 s", "<= 10", atMost(10)}}},
        {"held",
         {},
         3,
         {{"held_stall_ms", "held transfer: longest GUI-thread stall (ms)", "<= 50", atMost(50)}}},
    };
}

QString writeGeneratedMap(QTemporaryDir& root, const QString& name, qint64 lines, qint64 minBytes) {
    const QString folder = root.filePath(name);
    QDir().mkpath(folder);
    QFile file(folder + QStringLiteral("/tabdefs.csv"));
    if (!file.open(QIODevice::WriteOnly))
        std::exit(5);
    file.write(generatedMap(lines, minBytes));
    return folder;
}

int runTable(const QString& self) {
    QTemporaryDir maps;
    const QString map32k = writeGeneratedMap(maps, QStringLiteral("32k"), 32'767, 0);
    const QString map10MB = writeGeneratedMap(maps, QStringLiteral("10MB"), 0, 10'000'000);
    const QString map100k = writeGeneratedMap(maps, QStringLiteral("100k"), 100'000, 0);
    const QString map1M = writeGeneratedMap(maps, QStringLiteral("1M"), 1'000'000, 0);
    std::printf("%-44s %12s %24s  %-22s %s\n", "figure", "median", "spread (min .. max)", "goal", "");
    int missed = 0;
    for (const Measurement& m : measurements(map32k, map10MB, map100k, map1M)) {
        const auto values = run(self, m);
        for (const Figure& f : m.figures)
            printRow(f, values.value(QString::fromLatin1(f.key)), missed);
    }
    std::vector<double> startUp;
    for (int i = 0; i < 10; ++i) {
        QProcess child;
        child.start(self, {QStringLiteral("--startup")});
        child.waitForFinished(20000);
        for (const QByteArray& line : child.readAllStandardOutput().split('\n'))
            if (line.startsWith("startup_ms "))
                startUp.push_back(line.mid(11).toDouble());
    }
    printRow({"startup_ms", "process start to first paint (ms)", "<= 100", [](double v) { return v <= 100; }},
             startUp, missed);
    std::vector<double> quitToExit;
    for (int i = 0; i < 5; ++i) {
        QProcess child;
        child.start(self, {QStringLiteral("--quit-held")});
        const bool finished = child.waitForFinished(60000);
        const double exitedAt = monotonicMs();
        for (const QByteArray& line : child.readAllStandardOutput().split('\n'))
            if (finished && child.exitCode() == 0 && line.startsWith("quit_at_monotonic_ms "))
                quitToExit.push_back(exitedAt - line.mid(21).toDouble());
    }
    printRow({"quit_ms", "Quit during a held transfer to exit (ms)", "<= 1000",
              [](double v) { return v <= 1000; }},
             quitToExit, missed);
    std::printf("%d of the goals missed\n", missed);
    return missed == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    const QByteArray mode = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    if (mode == "--startup") {
        const double sinceStart = processStartMilliseconds();
        QElapsedTimer clock;
        clock.start();
        QApplication application(argc, argv);
        measureStartUp(sinceStart, clock);
        return 0;
    }
    QApplication application(argc, argv);
    if (mode == "--quit-held")
        return quitDuringHeldTransfer(application);
    const QStringList args = QCoreApplication::arguments();
    if (mode == "--measure")
        return runMeasurement(args.value(2), args.mid(3));
    return runTable(QCoreApplication::applicationFilePath());
}
