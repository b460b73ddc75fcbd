// The demo chip's registers that are not plain storage, and the sample map shipped for it.
#include "usb/sim/SimChip.h"

#include <QFile>
#include <QStringList>
#include <QTest>

#include <algorithm>

using regbench::usb::sim::SimChip;

class TestSimChip : public QObject {
    Q_OBJECT

    std::chrono::steady_clock::time_point now{};
    SimChip chip{[this] { return now; }};

private slots:
    // address, value at reset, value written, value then read: read-only registers ignore the write.
    void registers() {
        const int cases[][4] = {{0x00, 0xB7, 0x00, 0xB7}, {0x01, 0x12, 0xFF, 0x12}, {0x02, 0x00, 0x55, 0x00},
                                {0x03, 0x00, 0xFF, 0x00}, {0x11, 0x43, 0x00, 0x00}, {0xFF, 0x00, 0x01, 0x01}};
        for (const auto& c : cases) {
            now = {};
            chip.reset();
            const auto address = std::uint8_t(c[0]);
            QCOMPARE(int(chip.read(address)), c[1]);
            chip.write(address, std::uint8_t(c[2]));
            QCOMPARE(int(chip.read(address)), c[3]);
            chip.reset();
            QCOMPARE(int(chip.read(address)), c[1]);
        }
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
        now = {};
        chip.reset();
        chip.write(SimChip::Control, std::uint8_t(control));
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
        QVERIFY(std::all_of(raw.begin(), raw.end(), [](char c) { return std::uint8_t(c) < 0x80; }));
        const QStringList lines = QString::fromLatin1(raw).split(QStringLiteral("\r\n"));
        QVERIFY(!raw.replace("\r\n", "").contains('\r') && !raw.contains('\n'));
        const auto shortName = [](const QString& name) { return name.size() <= 8; };
        int tabs = 0, onTab = 0;
        for (const QString& line : lines) {
            const QStringList f = line.split(QLatin1Char(','));
            const bool tab = f[0] == QLatin1String("TABNAME");
            tabs += tab ? 1 : 0;
            onTab = tab ? 0 : onTab + (f[0] == QLatin1String("REG") ? 1 : 0);
            QVERIFY2(onTab <= 6, qPrintable(line));
            QVERIFY2(f[0] != QLatin1String("BITS") ||
                         (f.size() == 9 && std::all_of(f.begin(), f.end(), shortName)),
                     qPrintable(line));
        }
        QVERIFY(tabs >= 4 && tabs <= 5);
    }
};

QTEST_GUILESS_MAIN(TestSimChip)
#include "SimChipTest.moc"
