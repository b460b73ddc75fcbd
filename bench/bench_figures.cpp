// The figures that matter, each against its goal, in one table. Every measurement runs in a fresh process of
// this program (so memory and start-up are its own), several times; a figure is the median of its runs with
// their spread. Runs offscreen unless QT_QPA_PLATFORM says otherwise.
#include "BenchSupport.h"

#include "app/ActivityLog.h"
#include "app/MainWindow.h"
#include "app/WatchWindow.h"
#include "regmap/MapFile.h"
#include "regmap/RegisterMapReader.h"
#include "session/Session.h"
#include "usb/sim/SimUsbDriver.h"

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
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
    regbench::session::Session session{sim};
    std::unique_ptr<MainWindow> window;

    explicit StartedWindow(const QByteArray& map) {
        writeMap(dir, map);
        window = std::make_unique<MainWindow>(session, dir.filePath(QStringLiteral("tabdefs.csv")));
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
// program does between the accesses of a long operation. A first line outside ASCII (a map name with "µ")
// must not make the lines after it dearer, nor the offsets that assistive technology asks for.
void measureLog(int lines, bool nonAsciiFirst) {
    StartedWindow w(QByteArrayLiteral("TABNAME,A\r\nREG,1,X\r\n"));
    if (nonAsciiFirst)
        w.window->LogLine(QStringLiteral("Register TEMP_\u00b5 read \u2264 1 \u00b0C"));
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
    if (!nonAsciiFirst)
        return;
    // A screen reader reads a few characters at offsets spread over the whole log.
    QAccessibleTextInterface* text =
        QAccessible::queryAccessibleInterface(&w.window->activityLog())->textInterface();
    const int count = text->characterCount();
    constexpr int Lookups = 50;
    clock.restart();
    for (int k = 0; k < Lookups; ++k) {
        const int offset = static_cast<int>(static_cast<qint64>(count) * k / Lookups);
        if (text->text(offset, offset + 8).size() > 8)
            std::exit(4);
    }
    report("log_accessible_lookup_us", static_cast<double>(clock.nsecsElapsed()) / 1e3 / Lookups);
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
    const auto loaded = regbench::regmap::MapFile::load(folder + QStringLiteral("/tabdefs.csv"));
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
    void setTarget(QObject* target) { target_ = target; }
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
    regbench::session::Session session(sim);
    MainWindow window(session, dir.filePath(QStringLiteral("tabdefs.csv")));
    FirstPaint firstPaint(&window, clock);
    QCoreApplication::instance()->installEventFilter(&firstPaint);
    window.showCentred();
    if (!QTest::qWaitFor([&] { return firstPaint.atMs >= 0; }, 10000))
        std::exit(3);
    report("startup_ms", sinceProcessStartMs + firstPaint.atMs);
}

// The longest the GUI thread has gone without running a 5 ms timer, from the watch's start to now.
class StallWatch {
public:
    StallWatch() {
        clock_.start();
        ticker_.setTimerType(Qt::PreciseTimer);
        ticker_.setInterval(5);
        QObject::connect(&ticker_, &QTimer::timeout, [this] {
            const double now = nowMs();
            longest_ = std::max(longest_, now - last_);
            last_ = now;
        });
        ticker_.start();
    }
    double longestMs() const { return std::max(longest_, nowMs() - last_); }

private:
    double nowMs() const { return static_cast<double>(clock_.nsecsElapsed()) / 1e6; }

    QElapsedTimer clock_;
    QTimer ticker_;
    double last_ = 0;
    double longest_ = 0;
};

// Eight registers watched every 10 ms: the longest the GUI thread goes without running its 5 ms timer, the
// memory the watch takes, the CPU, and the samples that came more than 2 ms after their due time or not at
// all.
void measureWatch(int seconds) {
    StartedWindow w(fullMap());
    const double memoryBefore = residentBytes();
    regbench::app::WatchWindow* watch = w.window->openWatch(0);
    for (std::uint8_t a = 1; a < 8; ++a)
        watch->addRegister(a);
    watch->sampler().setInterval(10);
    const StallWatch stalls;
    const double cpuBefore = cpuMilliseconds();
    QTest::qWait(0);
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    report("watch_stall_ms", stalls.longestMs());
    report("watch_memory_mb", (residentBytes() - memoryBefore) / 1e6);
    report("watch_cpu_percent", 100.0 * (cpuMilliseconds() - cpuBefore) / (seconds * 1000.0));
    report("watch_samples", static_cast<double>(watch->sampler().samples()));
    report("watch_late_or_missed", static_cast<double>(watch->sampler().late() + watch->sampler().missed()));
    report("watch_missed", static_cast<double>(watch->sampler().missed()));
}

// A bridge that holds its reply for 2 s: the longest the GUI thread goes without running its timer then.
void measureHeldTransfer() {
    StartedWindow w(QByteArrayLiteral("TABNAME,A\r\nREG,1,X\r\n"));
    w.sim.setDropReplies(true);
    QTimer::singleShot(2000, [&w] { w.sim.setDropReplies(false); }); // the reply comes after 2 s
    const StallWatch stalls;
    w.window->cbRead_Click(0);
    report("held_stall_ms", stalls.longestMs());
}

double monotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

// From Watch in a panel's menu to the watch window's first paint.
void measureWatchOpen() {
    StartedWindow w(fullMap());
    QElapsedTimer clock;
    FirstPaint firstPaint(nullptr, clock);
    QCoreApplication::instance()->installEventFilter(&firstPaint);
    clock.start();
    firstPaint.setTarget(w.window->openWatch(0));
    if (!QTest::qWaitFor([&] { return firstPaint.atMs >= 0; }, 10000))
        std::exit(3);
    report("watch_open_ms", firstPaint.atMs);
}

// The program as it runs: Read on a bridge that never answers, then Quit 200 ms later. The parent times the
// process's exit from the moment printed here.
int quitDuringHeldTransfer(QApplication& application) {
    QTemporaryDir dir;
    writeMap(dir, QByteArrayLiteral("TABNAME,A\r\nREG,1,X\r\n"));
    regbench::usb::sim::SimUsbDriver sim;
    regbench::session::Session session(sim);
    MainWindow window(session, dir.filePath(QStringLiteral("tabdefs.csv")));
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

// The window up for a map whose texts are absurdly long, against one for a tiny map shown (and closed) first
// in the same process, so that fonts and caches are warm for both and only the map's own cost remains.
void measureMapWindow(const QString& hugeFolder, const QString& tinyFolder) {
    double emptyBytes = 0;
    {
        regbench::usb::sim::SimUsbDriver sim;
        regbench::session::Session session(sim);
        MainWindow empty(session, tinyFolder + QStringLiteral("/tabdefs.csv"));
        empty.showCentred();
        if (!QTest::qWaitFor([&] { return empty.startUpDone(); }, 10000))
            std::exit(3);
        emptyBytes = residentBytes();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    std::ofstream("/proc/self/clear_refs") << "5"; // the peak starts again from here
    const double fileBytes =
        static_cast<double>(QFileInfo(hugeFolder + QStringLiteral("/tabdefs.csv")).size());
    QElapsedTimer clock;
    clock.start();
    regbench::usb::sim::SimUsbDriver sim;
    regbench::session::Session session(sim);
    MainWindow window(session, hugeFolder + QStringLiteral("/tabdefs.csv"));
    FirstPaint firstPaint(&window, clock);
    QCoreApplication::instance()->installEventFilter(&firstPaint);
    window.showCentred();
    if (!QTest::qWaitFor([&] { return firstPaint.atMs >= 0 && window.startUpDone(); }, 60000))
        std::exit(3);
    report("mapwindow_ms", firstPaint.atMs);
    report("mapwindow_memory_per_file_byte", (residentBytes() - emptyBytes) / fileBytes);
    report("mapwindow_peak_per_file_byte", (peakResidentBytes() - emptyBytes) / fileBytes);
}

int runMeasurement(const QString& name, const QStringList& args) {
    const QMap<QString, std::function<void()>> measurements{
        {"log100k", [] { measureLog(100'000, false); }},
        {"log100k_nonascii", [] { measureLog(100'000, true); }},
        {"log1m", [] { measureLog(1'000'000, false); }},
        {"mapwindow", [&args] { measureMapWindow(args.value(0), args.value(1)); }},
        {"readall", measureReadAll},
        {"readgroup", measureReadGroup},
        {"reader", [&args] { measureReader(args.value(0)); }},
        {"pause", measurePause},
        {"idle", measureIdle},
        {"held", measureHeldTransfer},
        {"watch", [&args] { measureWatch(args.value(0).toInt()); }},
        {"watchopen", measureWatchOpen}};
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

// maps: the folder of each generated map, by name.
std::vector<Measurement> measurements(const QMap<QString, QString>& maps) {
    const auto atMost = [](double limit) { return [limit](double v) { return v <= limit; }; };
    const auto atLeast = [](double limit) { return [limit](double v) { return v >= limit; }; };
    return {
        {"log100k",
         {},
         3,
         {{"log_seconds", "log: 100,000 lines through the window (s)", "<= 0.5", atMost(0.5)}}},
        {"log100k_nonascii",
         {},
         3,
         {{"log_seconds", "log: the same after one non-ASCII line (s)", "<= 0.5", atMost(0.5)},
          {"log_accessible_lookup_us", "log: there, an accessible offset lookup (us)", "<= 50", atMost(50)}}},
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
        {"reader", {maps["32k"]}, 7, {{"reader_ms", "map reader: 32,767 lines (ms)", "<= 10", atMost(10)}}},
        {"reader",
         {maps["10MB"]},
         3,
         {{"reader_peak_per_file_byte", "map reader: peak memory / file size (10 MB)", "<= 1.3",
           atMost(1.3)}}},
        {"reader",
         {maps["100k"]},
         5,
         {{"reader_us_per_line", "map reader: us a line, 100,000 lines", "(linear)",
           [](double) { return true; }}}},
        {"reader",
         {maps["1M"]},
         3,
         {{"reader_us_per_line", "map reader: us a line, 1,000,000 lines", "(linear)",
           [](double) { return true; }}}},
        {"mapwindow",
         {maps["huge"], maps["tiny"]},
         3,
         {{"mapwindow_ms", "window up: 10 MB caption, name, title (ms)", "<= 500", atMost(500)},
          {"mapwindow_memory_per_file_byte", "that window: memory / file size", "<= 2", atMost(2)},
          {"mapwindow_peak_per_file_byte", "that window: peak memory / file size", "(reading)",
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
        {"watchopen",
         {},
         5,
         {{"watch_open_ms", "watch window: Watch to first paint (ms)", "<= 100", atMost(100)}}},
        {"watch",
         {QStringLiteral("600")},
         1,
         {{"watch_stall_ms", "watch 8 x 10 ms, 10 min: longest GUI stall (ms)", "<= 50", atMost(50)},
          {"watch_memory_mb", "that watch: memory above the window (MB)", "<= 50", atMost(50)},
          {"watch_cpu_percent", "that watch: CPU (% of a core)", "<= 10", atMost(10)},
          {"watch_samples", "that watch: samples (60,000 due)", "(reading)", [](double) { return true; }},
          {"watch_late_or_missed", "that watch: samples late > 2 ms or missed", "(count)",
           [](double) { return true; }}}},
    };
}

QString writeMapFolder(QTemporaryDir& root, const QString& name, const QByteArray& map) {
    const QString folder = root.filePath(name);
    QDir().mkpath(folder);
    QFile file(folder + QStringLiteral("/tabdefs.csv"));
    if (!file.open(QIODevice::WriteOnly) || file.write(map) != map.size())
        std::exit(5);
    return folder;
}

// One record each for the title label, a tab and a register, every text 10 MB of words.
QByteArray hugeTextsMap() {
    const QByteArray text = QByteArray("Temperature sensor control ").repeated(400'000).left(10'000'000);
    return "TITLE," + text + "\r\nTABNAME," + text + "\r\nREG,1," + text + "\r\n";
}

int runTable(const QString& self) {
    QTemporaryDir root;
    const QMap<QString, QString> maps{
        {"32k", writeMapFolder(root, QStringLiteral("32k"), generatedMap(32'767, 0))},
        {"10MB", writeMapFolder(root, QStringLiteral("10MB"), generatedMap(0, 10'000'000))},
        {"100k", writeMapFolder(root, QStringLiteral("100k"), generatedMap(100'000, 0))},
        {"1M", writeMapFolder(root, QStringLiteral("1M"), generatedMap(1'000'000, 0))},
        {"huge", writeMapFolder(root, QStringLiteral("huge"), hugeTextsMap())},
        {"tiny",
         writeMapFolder(root, QStringLiteral("tiny"), QByteArrayLiteral("TABNAME,A\r\nREG,1,X\r\n"))}};
    std::printf("%-44s %12s %24s  %-22s %s\n", "figure", "median", "spread (min .. max)", "goal", "");
    int missed = 0;
    for (const Measurement& m : measurements(maps)) {
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
