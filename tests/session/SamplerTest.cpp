// Sampling as a watch does it, over the simulated bridge: the pace, a sample's place among the user's
// operations, and the bridge going and coming.
#include "session/Sampler.h"
#include "regmap/RegisterMapReader.h"
#include "session/Session.h"
#include "support/LinkRig.h"
#include "support/TestMap.h"

#include <QEventLoop>
#include <QTest>
#include <QTimer>

using regbench::session::Sampler;

namespace {

struct Page : regbench::access::RegisterPage {
    int selectedTab() const override { return 0; }
    int panelValue(int) const override { return 0; }
    void showPanelValue(int, std::uint8_t) override {}
    void showPage() override {}
    void showMessage(const QString&) override {}
};

// A session on the simulated bridge with the test map; a group's pauses wait in the event loop, as the
// window's do (QTest::qWait would sleep through them).
void pause(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Rig {
    regbench::usb::sim::SimUsbDriver sim;
    regbench::tests::RecordingDriver recorded{sim};
    regbench::tests::RecordingLog log;
    regbench::session::Session session{recorded};
    Page page;
    Sampler sampler{session};
    QList<Sampler::Sample> samples;

    Rig() {
        session.map() = regbench::regmap::RegisterMapReader::read(regbench::tests::testMap()).map;
        session.setLog(&log);
        session.operations().setPage(&page, pause);
        session.start([](int) { QTest::qWait(20); });
        recorded.transfers.clear();
        log.content.clear();
        sampler.setRegisters({5, 0x10});
        sampler.setInterval(10);
        sampler.onSample = [this](const Sampler::Sample& sample) { samples << sample; };
    }
    // The register each request asked for, in order.
    QList<int> requested() const {
        QList<int> addresses;
        for (const auto& record : recorded.transfers)
            if (record.readFlag == 0)
                addresses << std::uint8_t(record.out.at(2));
        return addresses;
    }
};

} // namespace

class SamplerTest : public QObject {
    Q_OBJECT
private slots:
    void samplesComeAtTheIntervalTwoRegistersTogether() {
        Rig rig;
        rig.session.map().RegValues[5] = 0x33;
        rig.sim.chip(rig.sim.heldDevice()).write(0x10, 0x7E);
        rig.sampler.start();
        QTest::qWait(205);
        rig.sampler.pause();
        QVERIFY2(rig.samples.size() >= 19 && rig.samples.size() <= 22,
                 qPrintable(QString::number(rig.samples.size())));
        QCOMPARE(int(rig.recorded.transfers.size()), 4 * int(rig.samples.size()));
        QCOMPARE(rig.samples.first().timeMs, 0);
        QVERIFY(rig.samples.last().timeMs >= 190);
        QCOMPARE(rig.samples.last().outcomes.at(1).value, 0x7E);
        QCOMPARE(rig.session.map().RegValues[5], 0x33); // a watch stores nothing
        QVERIFY(rig.log.content.isEmpty());
        QTest::qWait(30);
        QCOMPARE(int(rig.recorded.transfers.size()), 4 * int(rig.samples.size())); // paused
    }

    // A group the user starts runs whole between two samples, and a read asked for while a sample waits for
    // its reply comes after the sample's last read, not between its reads.
    void nothingLandsInsideASampleOrAGroup() {
        Rig rig;
        rig.sampler.start();
        QTimer::singleShot(25, [&rig] { rig.session.operations().readGroup(); });
        // From 140 ms replies are held, so at 153 ms a sample's first read waits for its reply.
        QTimer::singleShot(140, [&rig] { rig.sim.setDropReplies(true); });
        QTimer::singleShot(153, [&rig] {
            rig.session.operations().read(0x20, [](const regbench::access::AccessOutcome&) {});
            rig.sim.setDropReplies(false);
        });
        QTest::qWait(200);
        rig.sampler.pause();
        QTest::qWait(20);
        // Every request belongs to a whole sample (5, 0x10), the whole group (5, 0x10, 0x3A) or the read
        // (0x20).
        const QList<int> sent = rig.requested();
        int groups = 0, reads = 0;
        for (qsizetype i = 0; i < sent.size();) {
            if (sent.mid(i, 3) == QList<int>{5, 0x10, 0x3A} && ++groups)
                i += 3;
            else if (sent.mid(i, 2) == QList<int>{5, 0x10})
                i += 2;
            else if (sent[i] == 0x20 && ++reads)
                i += 1;
            else
                QFAIL(qPrintable(QStringLiteral("interleaved at request %1").arg(i)));
        }
        QVERIFY(groups == 1 && reads == 1);
        QVERIFY(rig.sampler.missed() > 0); // the group's 30 ms took due times
    }

    void aDetachedBridgePausesSamplingAndAnAttachResumesIt() {
        Rig rig;
        rig.sampler.start();
        QTest::qWait(30);
        rig.sim.unplugBridge(rig.sim.heldDevice());
        QTest::qWait(10);
        QVERIFY(rig.sampler.waitingForBridge());
        const qsizetype before = rig.samples.size();
        QTest::qWait(50);
        QCOMPARE(rig.samples.size(), before);
        rig.sim.plugBridge();
        QTRY_VERIFY(rig.samples.size() > before + 2);
        QVERIFY(rig.samples.last().outcomes.at(0).succeeded);
        QVERIFY(rig.samples.last().timeMs > 80); // the time axis goes on
    }
};

QTEST_GUILESS_MAIN(SamplerTest)
#include "SamplerTest.moc"
