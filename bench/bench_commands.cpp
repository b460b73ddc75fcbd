// The commands' figures against their goals, timed from outside the processes as a shell user meets them.
// Run under umockdev-wrapper: the i2c-dev rows put regbench-i2c and i2cget side by side on one emulated
// adapter. The simulator's rows run without the emulation's preload.
#include "BenchSupport.h"
#include "EmulatedAdapter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <functional>

using namespace regbench::bench;

namespace {

struct Outcome {
    double ms = -1; // -1: it failed
    QByteArray out;
};

// One process, from its start to its exit.
Outcome timed(const QString& program, const QStringList& args, bool emulated, const QByteArray& input = {},
              int stopAfterMs = 0) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    if (!emulated)
        environment.remove(QStringLiteral("LD_PRELOAD"));
    QProcess process;
    process.setProcessEnvironment(environment);
    QElapsedTimer clock;
    clock.start();
    process.start(program, args);
    process.write(input);
    process.closeWriteChannel();
    if (stopAfterMs > 0 && process.waitForStarted()) {
        QThread::msleep(static_cast<unsigned long>(stopAfterMs));
        ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    }
    const bool finished = process.waitForFinished(120'000);
    Outcome outcome;
    outcome.out = process.readAllStandardOutput();
    if (finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        outcome.ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    else
        std::fprintf(stderr, "%s %s: failed\n", qPrintable(program), qPrintable(args.join(' ')));
    return outcome;
}

std::vector<double> medianOf(int runs, const std::function<double()>& once) {
    std::vector<double> values;
    for (int r = 0; r < runs; ++r)
        if (const double v = once(); v >= 0)
            values.push_back(v);
    return values;
}

int missed = 0;

void row(const char* what, const std::vector<double>& values, const char* goal,
         const std::function<bool(double)>& met) {
    if (values.empty()) {
        std::printf("%-56s %12s %22s  %-10s NOT MEASURED\n", what, "-", "", goal);
        ++missed;
        return;
    }
    const Summary s = summarise(values);
    char spread[64];
    std::snprintf(spread, sizeof spread, "%.3f .. %.3f", s.min, s.max);
    const bool ok = met(s.median);
    missed += ok ? 0 : 1;
    std::printf("%-56s %12.3f %22s  %-10s %s\n", what, s.median, spread, goal, ok ? "met" : "MISSED");
}

double childCpuMs() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto ms = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) * 1000.0 + t.tv_usec / 1000.0;
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// 10 s of samples every 10 ms: due times that passed without a sample, samples more than 2 ms after their
// due time (time_ms counts whole milliseconds from the first sample's), and the CPU the process took.
void watchRows(const QString& sim) {
    std::vector<double> gaps, late, cpu;
    for (int r = 0; r < 3; ++r) {
        const double cpuBefore = childCpuMs();
        const Outcome o = timed(sim, {"watch", "0x02", "--interval", "10"}, false, {}, 10'000);
        if (o.ms < 0)
            continue;
        cpu.push_back(100.0 * (childCpuMs() - cpuBefore) / o.ms);
        const QList<QByteArray> lines = o.out.trimmed().split('\n').mid(1);
        qint64 previous = -1, gapCount = 0, lateCount = 0;
        for (const QByteArray& line : lines) {
            const qint64 t = line.split(',').value(0).toLongLong();
            if (previous >= 0 && t - previous > 15)
                gapCount += (t - previous + 5) / 10 - 1;
            lateCount += t % 10 > 2 ? 1 : 0;
            previous = t;
        }
        gaps.push_back(static_cast<double>(gapCount));
        late.push_back(static_cast<double>(lateCount));
    }
    const auto atMost = [](double limit) { return [limit](double v) { return v <= limit; }; };
    row("watch --interval 10, 10 s: due times missed", gaps, "0", atMost(0));
    row("watch --interval 10, 10 s: samples > 2 ms late", late, "0", atMost(0));
    row("watch --interval 10, 10 s: CPU (% of a core)", cpu, "<= 5", atMost(5));
}

void i2cRows(const QString& i2c) {
    regbench::tests::EmulatedAdapter adapter;
    adapter.add();
    const QString i2cget = QStringLiteral("/usr/sbin/i2cget");
    const QStringList getArgs{"-y", "0", "0x1c", "5"};
    std::vector<double> ours, theirs;
    for (int r = 0; r < 21; ++r) { // side by side, so that a busy moment weighs on both
        ours.push_back(timed(i2c, {"read", "5"}, true).ms);
        theirs.push_back(timed(i2cget, getArgs, true).ms);
    }
    row("regbench-i2c read 5 (ms)", ours, "(reading)", [](double) { return true; });
    row("i2cget -y 0 0x1c 5 (ms)", theirs, "(reading)", [](double) { return true; });
    const double ratio = summarise(ours).median / summarise(theirs).median;
    row("regbench-i2c read / i2cget, wall time", {ratio}, "<= 3", [](double v) { return v <= 3; });

    const QByteArray script = QByteArray("read 5\n").repeated(100);
    std::vector<double> runRatios;
    for (int r = 0; r < 3; ++r) {
        const double scriptMs = timed(i2c, {"run", "-"}, true, script).ms;
        double toolsMs = 0;
        for (int i = 0; i < 100; ++i)
            toolsMs += timed(i2cget, getArgs, true).ms;
        runRatios.push_back(scriptMs / toolsMs);
    }
    row("100 reads: regbench-i2c run - / 100 i2cget processes", runRatios, "<= 0.5",
        [](double v) { return v <= 0.5; });
}

} // namespace

int main(int argc, char* argv[]) {
    if (outsideUmockdev())
        return 77;
    QCoreApplication application(argc, argv);
    const QString folder = QCoreApplication::applicationDirPath() + QLatin1Char('/');
    QTemporaryDir dir;
    writeMap(dir, fullMap());
    std::printf("%-56s %12s %22s  %-10s\n", "figure", "median", "spread (min .. max)", "goal");
    const QString sim = folder + QStringLiteral("regbench-sim");
    row("regbench-sim read 0x00: process start to exit (ms)",
        medianOf(21,
                 [&] {
                     return timed(sim, {"read", "0x00"}, false).ms;
                 }),
        "<= 30", [](double v) { return v <= 30; });
    const QStringList dump{"--map", dir.filePath(QStringLiteral("tabdefs.csv")), "dump"};
    row("regbench-sim dump, 256 registers: ms a register beyond 10",
        medianOf(3, [&] { return timed(sim, dump, false).ms / 256 - 10; }), "<= 0.25",
        [](double v) { return v <= 0.25; });
    watchRows(sim);
    i2cRows(folder + QStringLiteral("regbench-i2c"));
    std::printf("%d of the goals missed\n", missed);
    return missed == 0 ? 0 : 1;
}
