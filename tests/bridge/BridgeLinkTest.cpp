// The driver connection and the pipe transfers over the simulated bridge: the start-up reports, every attach
// and detach line, shut-down, and what each transfer hands the layer.
#include "bridge/BridgeLink.h"
#include "bridge/PipeTransfer.h"
#include "support/LinkRig.h"
#include "usb/sim/SimUsbDriver.h"

#include <QTest>
#include <QTimer>

using regbench::bridge::BridgeLink;
using regbench::usb::sim::SimUsbDriver;
namespace UsbStatus = regbench::usb::UsbStatus;

namespace {

QStringList attachLines(const char* ids, const char* handle) {
    return {QStringLiteral("DeviceAttach: Received attach for "), QString::fromLatin1(ids),
            QStringLiteral("device handle &H") + QString::fromLatin1(handle)};
}
const QStringList Accepting{QStringLiteral("DeviceAttach: Accepting control of the device"), QString()};
using StartUpRow = std::tuple<bool, std::uint32_t, QStringList>; // bridge present, Init's status, lines

struct Rig : regbench::tests::LinkRig {
    // A transfer on pipe 0x02 (a write) or 0x82 (a read) with these parameters.
    bool transfer(std::uint32_t pipe, std::vector<std::uint8_t> buffer, int length) {
        pipes.TransferPipe = pipe;
        pipes.TransferBuffer = std::move(buffer);
        pipes.TransferLength = length;
        return pipe == 0x02 ? pipes.WritePipe() : pipes.ReadPipe();
    }
    QStringList settledLines() {
        QTest::qWait(20);
        const QStringList lines = log.lines();
        log.content.clear();
        return lines;
    }
};

} // namespace

class BridgeLinkTest : public QObject {
    Q_OBJECT
private slots:
    void startUpReports_data() {
        QTest::addColumn<StartUpRow>("row");
        const QString init = QStringLiteral("Initializing driver for USB-to-I2C interface...");
        const QString ok = QStringLiteral("USB-to-I2C driver initialization successful.");
        const QString searching = QStringLiteral("Searching for USB-to-I2C interface...");
        // The attach lines written during the wait are cleared with the rest.
        // clang-format off
        QTest::newRow("bridge present") << StartUpRow{true, UsbStatus::Success,
            {ok, "USB-to-I2C interface detected.", QString()}};
        QTest::newRow("no bridge") << StartUpRow{false, UsbStatus::Success,
            {init, ok, searching, "USB-to-I2C interface not detected. Please check connections."}};
        QTest::newRow("init fails: no search") << StartUpRow{true, UsbStatus::NotFound,
            {init, "Form_Activate(): Failed to initialize USB driver: error &HE0000007", "(Not \u00b5 found)",
             "USB-to-I2C driver initialization failure."}};
        // clang-format on
    }
    void startUpReports() {
        QFETCH(StartUpRow, row);
        auto [present, initStatus, lines] = row;
        const bool opened = initStatus == UsbStatus::Success;
        Rig rig;
        rig.sim.setAutoPlug(present);
        rig.recorded.initStatus = opened ? std::nullopt : std::optional(initStatus);
        rig.recorded.handleValue = 7;
        rig.recorded.statusTexts[UsbStatus::NotFound] =
            QByteArray("Not \xB5 found\0garbage", 20); // a C string
        rig.startUp();
        QCOMPARE(rig.log.lines(), lines);
        QCOMPARE(rig.pauses, opened ? 1 : 0);
        QCOMPARE(rig.link.DeviceAttached, present && opened);
        if (opened && !present) { // a bridge that comes later is still taken, without a detection report
            rig.sim.plugBridge();
            lines += attachLines("vendor ID &H1209 product ID &H1", "1") + Accepting;
            QTRY_COMPARE(rig.log.lines(), lines);
        }
        // Shut-down closes what was opened, once, logs nothing and leaves the attach state alone.
        rig.link.shutDown();
        rig.link.shutDown();
        QCOMPARE(rig.recorded.uninitCalls, opened ? 1u : 0u);
        QVERIFY(!opened || rig.recorded.lastUninitHandle == 7u);
        QCOMPARE(rig.log.lines(), lines);
        QCOMPARE(rig.link.DeviceAttached, opened);
    }

    void attachDetachASecondBridgeAndAFailedInterface() {
        Rig rig;
        rig.link.VendorId = 0xFFFE; // logged as unsigned 16-bit
        rig.link.ProductId = 0x8001;
        rig.sim.setAutoPlug(false);
        rig.startUp();
        rig.log.content.clear();
        rig.sim.plugBridge(0xFFFE, 0x8001);
        QCOMPARE(rig.settledLines(), attachLines("vendor ID &HFFFE product ID &H8001", "1") + Accepting);
        rig.sim.plugBridge(0xFFFE, 0x8001);
        const QStringList refused{"DeviceAttach: Previous attached already accepted control of the device - ",
                                  "control is rejected because only one device control is supported",
                                  "DeviceAttach: Rejecting control of the device"};
        QCOMPARE(rig.settledLines(), attachLines("vendor ID &HFFFE product ID &H8001", "2") + refused);
        QCOMPARE(rig.link.DeviceContext.DeviceHandle, 1u); // the first stays in use
        rig.sim.unplugBridge(1);
        QCOMPARE(rig.settledLines(), QStringList{"DeviceDetach: Received detach for device handle &H1"});
        QVERIFY(!rig.link.DeviceAttached && rig.link.DeviceContext.DeviceHandle == 0);
        rig.sim.plugBridge(0xFFFE, 0x8001);
        QCOMPARE(rig.settledLines(), attachLines("vendor ID &HFFFE product ID &H8001", "3") + Accepting);
        rig.link.DeviceDetach(0xDEADBEEF, nullptr); // any handle clears the held one
        QCOMPARE(rig.settledLines(),
                 QStringList{"DeviceDetach: Received detach for device handle &HDEADBEEF"});
        QVERIFY(!rig.link.DeviceAttached && rig.link.DeviceContext.DeviceHandle == 0);

        // A bridge whose interface cannot be set is refused, and leaves the place free for the next.
        rig.link.DeviceContext.AlternateSetting = 1;
        rig.recorded.interfaceStatus = UsbStatus::Busy;
        rig.sim.plugBridge(0xFFFE, 0x8001);
        const QStringList failed{"DeviceAttach: WDU_SetInterface failed", "(num.  0 alternate  1)",
                                 "device &H4: error &HE0000006", "(The device or interface is busy)",
                                 "DeviceAttach: Rejecting control of the device"};
        QCOMPARE(rig.settledLines(), attachLines("vendor ID &HFFFE product ID &H8001", "4") + failed);
        QVERIFY(rig.link.DeviceContext.DeviceHandle == 0 && !rig.link.DeviceAttached);
        QCOMPARE(rig.link.DeviceContext.InterfaceStatus, UsbStatus::Busy);
        rig.recorded.interfaceStatus.reset();
        rig.sim.plugBridge(0xFFFE, 0x8001);
        QTRY_VERIFY(rig.link.DeviceAttached);
    }

    // What the layer is handed: never more room than the buffer has, no buffer for nothing to move, and the
    // fixed parameters of every transfer. Bytes a short reply does not fill keep what they held.
    void transferParameters() {
        Rig rig;
        rig.startUp();
        rig.log.content.clear();
        rig.sim.setReplyLength(1);
        const std::tuple<int, int, std::uint32_t> cases[] = {{3, 0, 0}, {3, -5, 0}, {2, 64, 2}, {3, 3, 3}};
        for (const auto& [bufferSize, length, passed] : cases) {
            QVERIFY(rig.transfer(0x02, {1, 0x39, 0}, 3));
            rig.transfer(0x82, std::vector<std::uint8_t>(static_cast<std::size_t>(bufferSize), 0x77), length);
            const regbench::tests::RecordingDriver::Transfer& in = rig.recorded.transfers.back();
            QCOMPARE(std::tuple(in.length, in.bufferNull, rig.pipes.BytesTransferred,
                                rig.pipes.TransferBuffer.back()),
                     std::tuple(passed, passed == 0, passed > 0 ? 1u : 0u, std::uint8_t{0x77}));
            QVERIFY(in.readFlag == 1 && in.timeoutMs == 30000 && in.options == 0 &&
                    in.setup == decltype(in.setup){});
        }
        QCOMPARE(rig.recorded.transfers.front().readFlag, 0u);
    }

    // Whatever sets the parameters for a transfer of its own while one waits (and is refused) cannot move the
    // memory the waiting one's reply goes to: the reply comes back in TransferBuffer.
    void aWaitingTransferKeepsItsBuffer() {
        Rig rig;
        rig.startUp();
        rig.sim.setDropReplies(true);
        QVERIFY(rig.transfer(0x02, {1, 0x39, 0}, 3));
        QTimer::singleShot(10, [&rig] {
            rig.pipes.TransferBuffer.assign(64, 0x38); // a request far longer than the reply's room
            rig.pipes.TransferLength = 64;
            QVERIFY(!rig.pipes.WritePipe());
            rig.sim.setDropReplies(false);
        });
        QVERIFY(rig.transfer(0x82, {0xEE, 0xEE, 0xEE}, 3));
        const std::uint8_t value = rig.sim.chip(rig.sim.heldDevice()).read(0);
        QCOMPARE(rig.pipes.TransferBuffer, (std::vector<std::uint8_t>{0, value, 0xEE}));
    }
};

QTEST_GUILESS_MAIN(BridgeLinkTest)
#include "BridgeLinkTest.moc"
