// The commands as a user runs them from a shell: a process with no display, its output, status and what it
// sent, on the simulated bridge and on the libusb and i2c-dev backends under emulated devices.
#include "EmulatedAdapter.h"
#include "EmulatedBridge.h"
#include "support/LayerRig.h"
#include "support/TestMap.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

using regbench::tests::EmulatedAdapter;
using regbench::tests::EmulatedBridge;

namespace {

// One program on one backend, with the emulated device behind it where there is one.
struct Backend {
    QString program;
    std::unique_ptr<EmulatedBridge> bridge;
    std::unique_ptr<EmulatedAdapter> adapter;

    explicit Backend(const QString& name) : program(name) {
        if (name == "regbench")
            bridge = std::make_unique<EmulatedBridge>();
        if (name == "regbench-i2c")
            adapter = std::make_unique<EmulatedAdapter>();
    }
    void plug() {
        if (bridge)
            bridge->add();
        if (adapter)
            adapter->add();
    }
    bool simulated() const { return !bridge && !adapter; }
    int ioctls() const { return bridge ? bridge->ioctls() : adapter ? adapter->ioctls() : 0; }
    void hold(bool on) { bridge ? bridge->hold(on) : adapter->hold(on); }
    int waiting() const { return bridge ? bridge->waiting() : adapter->waiting(); }
    // No chip answers at 0x1C any more.
    void moveChip() {
        if (bridge)
            bridge->edit([](auto& s) { s.chip = 0x48; });
        if (adapter)
            adapter->edit([](auto& s) { s.chip = 0x48; });
    }
};

struct Run {
    int status = -1;
    QString out, err;
    qint64 ms = 0;
};

class Runner {
public:
    Runner() {
        QFile map(dir.filePath("chip.csv"));
        map.open(QIODevice::WriteOnly);
        map.write(regbench::tests::testMap());
    }
    QString path(const QString& name) const { return dir.filePath(name); }
    void write(const QString& name, const QByteArray& text) const {
        QFile file(path(name));
        file.open(QIODevice::WriteOnly);
        file.write(text);
    }

    // Started as a user over SSH would: no display, no Qt platform; `during` runs while it goes on.
    Run run(const Backend& backend, QStringList args, const QByteArray& input = {},
            const std::function<void(QProcess&)>& during = {}) const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("DISPLAY");
        environment.remove("WAYLAND_DISPLAY");
        environment.remove("QT_QPA_PLATFORM");
        QProcess process;
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(dir.path());
        args.prepend(path("chip.csv"));
        args.prepend("--map");
        QElapsedTimer clock;
        clock.start();
        process.start(QCoreApplication::applicationDirPath() + '/' + backend.program, args);
        process.write(input);
        process.closeWriteChannel();
        if (during)
            during(process);
        Run result;
        if (process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit)
            result.status = process.exitCode();
        result.ms = clock.elapsed();
        result.out = QString::fromUtf8(process.readAllStandardOutput());
        result.err = QString::fromUtf8(process.readAllStandardError());
        return result;
    }

    QTemporaryDir dir;
};

const QStringList Programs{"regbench-sim", "regbench", "regbench-i2c"};

} // namespace

class CommandsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
#ifdef __SANITIZE_THREAD__
        QSKIP("ThreadSanitizer cannot start a process from one that runs threads");
#endif
    }

    void commandLines_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out"); // or, for a failure, a line of standard error
        const QString noChip =
            "Reading register 0x00 failed: No ACK from slave. Check power and connections.";
        // clang-format off
        QTest::newRow("list") << QStringList{"list"} << QByteArray() << 0 << QString(
            "address,name,tabs,bits\n0x00,ID,Full,;;;;;;;\n0x05,ALPHA,Main;Full,A7;A6;A5;A4;A3;A2;A1;A0\n"
            "0x0A,TEN,Full,;;;;;;;\n0x10,BETA,Main,;;;;;;;\n0x20,R20,Full,;;;;;;;\n0x21,R21,Full,;;;;;;;\n"
            "0x3A,GAMMA,Main,;;;;;;;\n0xFF,LAST,Full,;;;;;;;\n");
        QTest::newRow("script") << QStringList{"run", "-"}
            << QByteArray("write alpha 0b10100000  # by name, any case\nread ALPHA 0x10\nset alpha.A0\n"
                          "clear 5.7\n\nwrite 0xff &H3c\ndump Main\n")
            << 0 << QString("0xA0\n0x00\n0xA1\n0x21\naddress,name,value\n0x05,ALPHA,0x21\n0x10,BETA,0x00\n"
                            "0x3A,GAMMA,0x00\n");
        QTest::newRow("watch") << QStringList{"watch", "beta", "5", "--interval", "10", "--count", "3"}
            << QByteArray() << 0 << QString("time_ms,BETA,ALPHA\nT,0x00,0x00\nT,0x00,0x00\nT,0x00,0x00\n");
        QTest::newRow("failed access ends a dump") << QStringList{"dump", "--chipless"} << QByteArray() << 1 << noChip;
        // Bad input: status 2 and nothing sent, however far the good part goes.
        QTest::newRow("unknown name") << QStringList{"read", "ALPHA", "DELTA"} << QByteArray() << 2
            << "read: \"DELTA\" is neither a register of the map nor an address from 0x00 to 0xFF";
        QTest::newRow("value over a byte") << QStringList{"write", "ALPHA", "256"} << QByteArray() << 2
            << "write: \"256\" is not a value from 0 to 255";
        QTest::newRow("not hex") << QStringList{"write", "ALPHA", "0x1G"} << QByteArray() << 2
            << "write: \"0x1G\" is not a value from 0 to 255";
        QTest::newRow("bit 8") << QStringList{"set", "ALPHA.8"} << QByteArray() << 2
            << "set: \"8\" is neither a bit name of register 0x05 nor a bit number from 0 to 7";
        QTest::newRow("script line 3") << QStringList{"run", "-"} << QByteArray("write ALPHA 1\n# ok\nread 0x1G\n")
            << 2 << "standard input:3: read: \"0x1G\" is neither";
        QTest::newRow("unreadable snapshot") << QStringList{"load", "none.csv"} << QByteArray() << 2
            << "none.csv: cannot be read";
        QTest::newRow("malformed snapshot") << QStringList{"load", "bad.csv"} << QByteArray() << 2
            << "bad.csv:3: \"0x1FF\" is not a register address";
        QTest::newRow("another chip's snapshot") << QStringList{"run", "-"} << QByteArray("load other.csv\n")
            << 2 << "standard input:1: load: other.csv:2: register 0x05 is \"ALPHA\" in the map, not \"TEMP\"";
        // clang-format on
    }

    void commandLines() {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, input);
        QFETCH(int, status);
        QFETCH(QString, out);
        Runner runner;
        runner.write("bad.csv", "address,name,value\n0x05,ALPHA,0x01\n0x1FF,X,0\n");
        runner.write("other.csv", "address,name,value\n0x05,TEMP,0x01\n");
        const bool chipless = args.removeAll("--chipless") > 0;
        for (const QString& program : Programs) {
            Backend backend(program);
            backend.plug();
            if (chipless)
                backend.simulated() ? void(args.prepend("--fault=no-ack")) : backend.moveChip();
            const Run run = runner.run(backend, args, input);
            if (chipless && backend.simulated())
                args.removeFirst();
            QCOMPARE(run.status, status);
            if (status == 0) {
                QCOMPARE(QString(run.out).replace(QRegularExpression("(?m)^\\d+,"), "T,"), out);
                QCOMPARE(run.err, QString());
            } else {
                QVERIFY2(run.err.contains(out), qPrintable(program + ": " + run.err));
            }
            if (status == 2 || args.first() == "list")
                QCOMPARE(backend.ioctls(), 0);
            if (status == 1) // the rest is not attempted
                QCOMPARE(run.out, QString("address,name,value\n"));
        }
    }

    // What was dumped loads back byte for byte, on a chip changed meanwhile.
    void snapshotRoundTrip() {
        Runner runner;
        for (const QString& program : Programs) {
            Backend backend(program);
            backend.plug();
            const Run dumped = runner.run(backend, {"run", "-"}, "write ALPHA 0x5A\nwrite LAST 0xC3\ndump\n");
            QCOMPARE(dumped.status, 0);
            runner.write("a.csv", dumped.out.toUtf8());
            const Run loaded =
                runner.run(backend, {"run", "-"}, "write ALPHA 0\nload a.csv --verify\ndump\n");
            QCOMPARE(loaded.status, 0);
            QCOMPARE(loaded.out, dumped.out);
            QVERIFY(dumped.out.contains("\n0x05,ALPHA,0x5A\n") && dumped.out.endsWith("\n0xFF,LAST,0xC3\n"));
        }
    }

    // A transfer that waits ends at Ctrl+C or SIGTERM within a second, nothing written after it; a watch
    // ends so with 0. No bridge, or one out of reach, is status 3 with the reason.
    void interruptsAndMissingBridges() {
        Runner runner;
        struct Case {
            QStringList args;
            int signal, status;
        };
        for (const QString& program : Programs) {
            for (const Case& c :
                 {Case{{"--verbose", "read", "ALPHA"}, SIGINT, 130}, Case{{"watch", "ALPHA"}, SIGTERM, 0}}) {
                Backend backend(program);
                backend.plug();
                QStringList args = c.args;
                if (backend.simulated())
                    args.prepend("--fault=silent");
                else
                    backend.hold(true);
                qint64 signalled = 0;
                const Run run = runner.run(backend, args, {}, [&](QProcess& process) {
                    QTest::qWait(300); // started and waiting for the reply
                    QVERIFY(backend.simulated() || backend.waiting() == 1);
                    signalled = QDateTime::currentMSecsSinceEpoch();
                    ::kill(pid_t(process.processId()), c.signal);
                });
                QCOMPARE(run.status, c.status);
                QVERIFY(QDateTime::currentMSecsSinceEpoch() - signalled < 1000);
                QCOMPARE(run.out, c.args.contains("watch") ? QString("time_ms,ALPHA\n") : QString());
                QVERIFY2(!run.err.contains("failed"),
                         qPrintable(run.err)); // the cancelled transfer is no news
            }
            if (program == "regbench-sim")
                continue;
            Backend none(program);
            Run run = runner.run(none, {"--wait", "100", "read", "ALPHA"});
            QVERIFY(run.status == 3 &&
                    run.err.endsWith("USB-to-I2C interface not detected. Please check connections.\n"));
            Backend denied(program);
            denied.plug();
            QVERIFY(none.bridge ? denied.bridge->deny(true) : denied.adapter->deny(true));
            run = runner.run(denied, {"read", "ALPHA"});
            QCOMPARE(run.status, 3);
            QVERIFY2(run.err.contains("install the udev rule 60-regbench.rules"), qPrintable(run.err));
            if (!none.adapter)
                continue;
            Backend pci(program); // an adapter that is no USB adapter's, named with --bus
            pci.adapter->add(EmulatedAdapter::Parent::Pci);
            run = runner.run(pci, {"--bus", "0", "--wait", "100", "read", "ALPHA"});
            QVERIFY(run.status == 3 && run.err.contains("Adapter /dev/i2c-0 not used: its driver"));
            QCOMPARE(pci.ioctls(), 0);
        }
    }
};

// Without root's rights, so that a node's permissions apply to the programs.
int main(int argc, char* argv[]) {
    return regbench::tests::runEmulated<QCoreApplication, CommandsTest>(argc, argv, true);
}
#include "CommandsTest.moc"
