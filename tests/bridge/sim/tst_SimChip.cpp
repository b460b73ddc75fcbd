#include "bridge/SimChip.h"

#include <QFile>
#include <QStringList>
#include <QTest>

#include <algorithm>

using regbench::bridge::SimChip;

namespace {

bool nineShortFields(const QStringList& f) {
    return f.size() == 9 && std::all_of(f.begin(), f.end(), [](const QString& n) { return n.size() <= 8; });
}

} // namespace

class TestSimChip : public QObject {
    Q_OBJECT

    std::chrono::steady_clock::time_point now{};

private slots:
    void registers_data() {
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("atReset");
        QTest::addColumn<int>("written");
        QTest::addColumn<int>("readBack");
        QTest::newRow("chip id") << 0x00 << 0xB7 << 0x00 << 0xB7;
        QTest::newRow("revision") << 0x01 << 0x12 << 0xFF << 0x12;
        QTest::newRow("tick") << 0x02 << 0x00 << 0x55 << 0x00;
        QTest::newRow("config") << 0x11 << 0x43 << 0x00 << 0x00;
        QTest::newRow("last, unnamed") << 0xFF << 0x00 << 0x01 << 0x01;
    }
    void registers() {
        QFETCH(int, address);
        QFETCH(int, atReset);
        QFETCH(int, written);
        QFETCH(int, readBack);
        SimChip chip([this] { return now; });
        const auto a = static_cast<std::uint8_t>(address);
        QCOMPARE(int(chip.read(a)), atReset);
        chip.write(a, static_cast<std::uint8_t>(written));
        QCOMPARE(int(chip.read(a)), readBack);
        chip.reset();
        QCOMPARE(int(chip.read(a)), atReset);
    }

    void followsTime_data() {
        QTest::addColumn<int>("elapsedMs");
        QTest::addColumn<int>("control");
        QTest::addColumn<int>("tick");
        QTest::addColumn<int>("status");
        const int beat = SimChip::StatusBeat, ready = SimChip::StatusReady, enabled = SimChip::StatusEnabled;
        QTest::newRow("first tick, not ready") << 99 << 0 << 1 << 0;
        QTest::newRow("beat high, enabled") << 500 << 1 << 10 << (beat | ready | enabled);
        QTest::newRow("beat low, only bit 0 enables") << 1000 << 0xFE << 20 << ready;
        QTest::newRow("wraps") << 12800 << 0 << 0 << (beat | ready);
        QTest::newRow("clock stepped back") << -5000 << 0 << 0 << 0;
    }
    void followsTime() {
        QFETCH(int, elapsedMs);
        QFETCH(int, control);
        QFETCH(int, tick);
        QFETCH(int, status);
        SimChip chip([this] { return now; });
        chip.write(SimChip::Control, static_cast<std::uint8_t>(control));
        now += std::chrono::milliseconds(elapsedMs);
        QCOMPARE(int(chip.read(SimChip::Tick)), tick);
        QCOMPARE(int(chip.read(SimChip::Status)), status);
        chip.reset();
        QCOMPARE(int(chip.read(SimChip::Tick)), 0);
    }

    // The sample map must suit the window: ASCII, CR LF lines, up to six registers a tab, short bit names.
    void sampleMap() {
        QFile file(QStringLiteral(REGBENCH_SAMPLE_MAP));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QByteArray raw = file.readAll();
        QVERIFY(
            std::all_of(raw.begin(), raw.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }));
        const QStringList lines = QString::fromLatin1(raw).split(QStringLiteral("\r\n"));
        QVERIFY(!raw.replace("\r\n", "").contains('\r') && !raw.contains('\n'));
        int tabs = 0, onTab = 0;
        for (const QString& line : lines) {
            const QStringList f = line.split(QLatin1Char(','));
            tabs += f[0] == QLatin1String("TABNAME") ? 1 : 0;
            onTab = f[0] == QLatin1String("TABNAME") ? 0 : onTab + (f[0] == QLatin1String("REG") ? 1 : 0);
            QVERIFY2(onTab <= 6, qPrintable(line));
            QVERIFY2(f[0] != QLatin1String("BITS") || nineShortFields(f), qPrintable(line));
        }
        QVERIFY(tabs >= 4 && tabs <= 5);
    }
};

QTEST_GUILESS_MAIN(TestSimChip)
#include "tst_SimChip.moc"
