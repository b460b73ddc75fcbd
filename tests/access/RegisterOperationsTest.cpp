// The register operations without a window: the bytes on the wire, the values stored and shown, the boxes
// and every log line, for single registers, groups and the whole device, with faults on the bridge.
#include "access/RegisterOperations.h"
#include "regmap/RegisterMapReader.h"
#include "support/LinkRig.h"
#include "support/TestMap.h"
#include "usb/sim/SimUsbDriver.h"

#include <QTest>
#include <QTimer>

using regbench::access::RegisterOperations;
using regbench::usb::sim::SimUsbDriver;
namespace UsbStatus = regbench::usb::UsbStatus;

namespace {

const QString NotDetected = QStringLiteral("USB-to-I2C interface not detected. Please check connections.");

// The page the operations see, standing in for the window.
struct Page : regbench::access::RegisterPage {
    int tab = 0;
    std::array<int, 6> values{};
    QStringList messages;
    int pageShows = 0;
    int selectedTab() const override { return tab; }
    int panelValue(int panel) const override { return values.at(panel); }
    void showPanelValue(int panel, std::uint8_t value) override { values.at(panel) = value; }
    void showPage() override { ++pageShows; }
    void showMessage(const QString& text) override { messages << text; }
};

// The operations over the simulated bridge with the test map, register 5 holding 0xA0 on the chip.
struct Rig : regbench::tests::LinkRig {
    regbench::regmap::RegisterMap map =
        regbench::regmap::RegisterMapReader::read(regbench::tests::testMap()).map;
    Page page;
    int waits = 0;
    std::function<void()> duringWait = [] {};
    RegisterOperations ops{map, pipes, log};

    explicit Rig(bool attached = true) {
        ops.setPage(&page, [this](int ms) {
            QCOMPARE(ms, 10);
            ++waits;
            duringWait();
        });
        sim.setAutoPlug(attached);
        startUp();
        if (attached)
            chip().write(5, 0xA0);
        recorded.transfers.clear();
        log.content.clear();
    }
    regbench::usb::sim::SimChip& chip() { return sim.chip(sim.heldDevice()); }
    QList<QByteArray> requests() const {
        QList<QByteArray> sent;
        for (const regbench::tests::RecordingDriver::Transfer& record : recorded.transfers)
            if (record.readFlag == 0)
                sent << record.out;
        return sent;
    }
    QByteArray readRequest(int address) const { return QByteArray("\x01\x39", 2) + char(address); }
};

} // namespace

class RegisterOperationsTest : public QObject {
    Q_OBJECT
private slots:
    void singleReadAndWrite() {
        Rig rig;
        rig.ops.readPanel(0);
        QVERIFY(rig.page.values[0] == 0xA0 && rig.map.RegValues[5] == 0xA0);
        rig.page.values[1] = 7;
        rig.ops.writePanel(1);
        rig.page.values[1] = 0x107; // a text over a byte is never sent cut to its low byte
        rig.ops.writePanel(1);
        QCOMPARE(rig.requests(), (QList<QByteArray>{rig.readRequest(5), QByteArray("\x00\x38\x10\x07", 4)}));
        QVERIFY(rig.chip().read(0x10) == 7 && rig.map.RegValues[0x10] == 7);
        QCOMPARE(
            rig.log.lines(),
            (QStringList{"Reading register 0x05 = 0xA0 successful", "Writing register 0x10 = 0x07 successful",
                         "Writing register 0x10 failed: value does not fit in a byte"}));
        // An empty slot, or no tab at all, does nothing.
        rig.ops.readPanel(4);
        rig.page.tab = -1;
        rig.ops.writePanel(0);
        QCOMPARE(rig.log.lines().size(), 3);
        QCOMPARE(rig.requests().size(), 2);
    }

    // Single registers by address, as the commands and a watch ask for them: the requests name the chip's
    // address, nothing is stored, shown or logged, and one asked for while another waits runs after it.
    void byAddressAtAnyChip() {
        using regbench::access::AccessOutcome;
        using regbench::access::AccessStatus;
        Rig rig;
        rig.sim.setChipAddress(0x48);
        rig.ops.setChipAddress(0x48);
        QList<AccessOutcome> seen;
        const auto keep = [&seen](const AccessOutcome& outcome) { seen << outcome; };
        rig.sim.setDropReplies(true);
        QTimer::singleShot(10, [&] {
            rig.ops.write(0x10, 7, keep);
            QVERIFY(seen.isEmpty());
            rig.sim.setDropReplies(false);
        });
        rig.ops.read(5, keep);
        QTRY_COMPARE(seen.size(), 2);
        QCOMPARE(rig.requests(), (QList<QByteArray>{"\x01\x91\x05", QByteArray("\x00\x90\x10\x07", 4)}));
        QVERIFY(seen[0].status == AccessStatus::Success && seen[0].value == 0xA0);
        QCOMPARE(seen[1].line, "Writing register 0x10 = 0x07 successful");
        QVERIFY(rig.chip().read(0x10) == 7 && rig.map.RegValues[5] == 0 && rig.log.content.isEmpty());
        rig.ops.setChipAddress(0x1C); // where no chip answers now
        rig.ops.read(QStringLiteral("alpha"), keep);
        QCOMPARE(seen[2].line,
                 "Reading register 0x05 failed: No ACK from slave. Check power and connections.");
        rig.ops.write(QStringLiteral("ALPH"), 1, keep);
        QVERIFY(seen[3].status == AccessStatus::UnknownName && rig.requests().size() == 3);
    }

    // The reply's status decides the line; a transfer that failed is reported as a failure, never as a read
    // of 00, and no reply is asked for after a request that failed. A failed read keeps the user's value.
    void failuresAreReportedAndKeepTheValue() {
        const QString noAck = QStringLiteral(" failed: No ACK from slave. Check power and connections.");
        const QString general = QStringLiteral(" failed: General I2C error");
        const QString failed = QStringLiteral(" failed: USB transfer error");
        const auto status = [](int bits) {
            return [bits](SimUsbDriver& sim) { sim.setReplyStatus(std::uint8_t(bits)); };
        };
        struct Case {
            std::function<void(SimUsbDriver&)> fault;
            QStringList lines; // of the read; "Reading register" on the last line becomes "Writing register"
            int transfers;     // of the read
            bool writeAlike = true; // a write's one-byte reply is whole
        };
        // clang-format off
        const Case cases[] = {
            {status(0x80), {general}, 2}, {status(0xC0), {general}, 2}, {status(0x40), {noAck}, 2},
            {status(0x3F), {" = 0x12 successful"}, 2},
            {[](SimUsbDriver& sim) { sim.setDeviceInfoStatus(UsbStatus::IoError); },
             {"WritePipe: WDU_GetDeviceInfo() failed:", "error &HE0000008 (Input/output error)", "", failed}, 0},
            {[](SimUsbDriver& sim) { sim.setDropReplies(true); },
             {"ReadPipe: WDU_Transfer() failed: error &HE0000003 (The transfer timed out)", "Read Pipe failed", failed}, 2},
            {[](SimUsbDriver& sim) { sim.setReplyLength(1); }, {failed}, 2, false},
            {[](SimUsbDriver& sim) { sim.setEndpointCount(0); }, {"  No pipes are defined for this device ",
             "other than the default pipe (number 0)", "Write Pipe failed", failed}, 0}};
        // clang-format on
        for (const Case& c : cases) {
            Rig rig;
            rig.page.values[0] = rig.map.RegValues[5] = 0x5C;
            rig.chip().write(5, 0x12);
            c.fault(rig.sim);
            rig.ops.readPanel(0);
            QStringList lines = c.lines;
            lines.last().prepend(QStringLiteral("Reading register 0x05"));
            QCOMPARE(rig.log.lines(), lines);
            QCOMPARE(int(rig.recorded.transfers.size()), c.transfers);
            QCOMPARE(rig.page.values[0],
                     c.lines.size() == 1 && c.lines[0].endsWith("successful") ? 0x12 : 0x5C);
            if (!c.writeAlike)
                continue;
            rig.log.content.clear();
            rig.ops.writePanel(0);
            lines.last().replace(0, 7, QStringLiteral("Writing"));
            QCOMPARE(rig.log.lines(), lines);
        }
    }

    void missingBridgeIsReported() {
        Rig rig(false);
        rig.ops.readPanel(5); // an empty slot is tested for the bridge too
        rig.ops.writeGroup(); // every panel reports it
        QCOMPARE(rig.page.messages, QStringList(7, QStringLiteral("USB Device not connected!")));
        QCOMPARE(rig.log.lines(), (QStringList{NotDetected, "Writing register group:"} +
                                   QStringList(6, NotDetected) + QStringList{""}));
        rig.page.messages.clear();
        rig.log.content.clear();
        rig.ops.readAll(); // once for the whole device, and the page is shown again all the same
        QCOMPARE(rig.page.messages.size(), 1);
        QCOMPARE(rig.log.lines(), (QStringList{"Reading all device registers:", NotDetected, QString()}));
        QCOMPARE(rig.page.pageShows, 1);
        QVERIFY(rig.recorded.transfers.empty());
    }

    void groupsVisitEveryPanelAndPauseAfterEach() {
        Rig rig;
        rig.page.values[2] = 0x9E; // only the text says so; the table learns it from the write
        rig.ops.readGroup();
        QCOMPARE(rig.waits, 6); // empty panels included
        QCOMPARE(rig.log.lines(),
                 (QStringList{"Reading register group:", "Reading register 0x05 = 0xA0 successful",
                              "Reading register 0x10 = 0x00 successful",
                              "Reading register 0x3A = 0x00 successful", QString()}));
        rig.page.values[2] = 0x9E;
        rig.recorded.transfers.clear();
        rig.ops.writeGroup();
        QCOMPARE(rig.requests().at(2), QByteArray("\x00\x38\x3A\x9E", 4));
        QCOMPARE(rig.map.RegValues[0x3A], 0x9E);
        // A tab change during a group switches the remaining panels.
        rig.duringWait = [&rig] { rig.page.tab = 1; };
        rig.recorded.transfers.clear();
        rig.ops.readGroup();
        QList<QByteArray> expected{rig.readRequest(5)};
        for (int a : {10, 255, 5, 32, 33})
            expected << rig.readRequest(a);
        QCOMPARE(rig.requests(), expected);
    }

    void readAllVisitsNamedRegistersOnceWriteAllSendsThemBackAndAnUnplugFailsTheRest() {
        Rig rig;
        rig.chip().write(0xFF, 0x0F);
        rig.sim.setReplyStatus(0x40); // a failure does not end the loop
        const auto held = rig.map.RegValues;
        rig.ops.readAll();
        QCOMPARE(rig.log.lines().at(8),
                 "Reading register 0xFF failed: No ACK from slave. Check power and connections.");
        QVERIFY(rig.map.RegValues == held); // the page shows again what the user held, not the failed replies

        rig.sim.setReplyStatus(std::nullopt);
        rig.recorded.transfers.clear();
        rig.log.content.clear();
        rig.ops.readAll();
        QList<QByteArray> expected;
        for (int a : {0, 5, 10, 16, 32, 33, 58, 255}) // 64 has no name; 5 stands on two tabs
            expected << rig.readRequest(a);
        QCOMPARE(rig.requests(), expected);
        QCOMPARE(rig.waits, 16);
        QCOMPARE(rig.log.lines().at(1), QStringLiteral("Reading register 0x00 = 0xB7 successful"));
        QCOMPARE(rig.map.RegValues[255], 0x0F);
        QCOMPARE(rig.page.pageShows, 2);

        rig.recorded.transfers.clear();
        rig.ops.writeAll();
        QCOMPARE(rig.requests().size(), 8);
        QCOMPARE(rig.requests().at(1), QByteArray("\x00\x38\x05\xA0", 4));
        QCOMPARE(rig.requests().at(7), QByteArray("\x00\x38\xFF\x0F", 4));
        QCOMPARE(rig.page.pageShows, 2); // Write All leaves the page alone

        // Unplugged during Read All: the rest fails cleanly.
        rig.log.content.clear();
        rig.sim.unplugAfterRequests(3);           // gone between the third request and its reply
        rig.duringWait = [] { QTest::qWait(1); }; // lets the detach arrive
        rig.ops.readAll();
        const QStringList lines = rig.log.lines();
        QCOMPARE(lines.at(2), QStringLiteral("Reading register 0x05 = 0xA0 successful"));
        QCOMPARE(lines.count(QStringLiteral("Reading register 0x0A failed: USB transfer error")), 1);
        QVERIFY(lines.contains(QStringLiteral("DeviceDetach: Received detach for device handle &H1")));
        QCOMPARE(lines.filter(QStringLiteral("Pipe: WDU_GetDeviceInfo() failed:")).size(), 6);
        QCOMPARE(lines.filter(QStringLiteral("failed: USB transfer error")).size(), 6);
        QCOMPARE(lines.constLast(), QString());
    }
};

QTEST_GUILESS_MAIN(RegisterOperationsTest)
#include "RegisterOperationsTest.moc"
