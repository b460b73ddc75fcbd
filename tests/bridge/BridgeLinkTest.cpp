// The driver connection and the pipe transfers over the simulated bridge: every log line, both start-up
// reports, number formatting, and the failures of each transfer step.
#include "bridge/BridgeLink.h"
#include "bridge/PipeTransfer.h"
#include "support/RecordingLog.h"
#include "usb/sim/SimUsbDriver.h"

#include <QTest>

using regbench::bridge::BridgeLink;
using regbench::bridge::PipeTransfer;
using regbench::usb::sim::SimUsbDriver;
namespace UsbStatus = regbench::usb::UsbStatus;

namespace {

const QStringList DetectedReport{QStringLiteral("USB-to-I2C driver initialization successful."),
                                 QStringLiteral("USB-to-I2C interface detected."), QString()};

QStringList attachLines(const QString& vid, const QString& pid, const QString& handle) {
    return {QStringLiteral("DeviceAttach: Received attach for "),
            QStringLiteral("vendor ID &H%1 product ID &H%2").arg(vid, pid),
            QStringLiteral("device handle &H%1").arg(handle)};
}

const QStringList AcceptLines{QStringLiteral("DeviceAttach: Accepting control of the device"), QString()};

// Everything a test needs: the simulated layer, a recording log, the connection and its transfers.
struct Rig {
    SimUsbDriver sim;
    regbench::tests::RecordingLog log;
    BridgeLink link{sim, log};
    PipeTransfer pipes{link, log};
    int pauses = 0;

    Rig() {
        link.VendorId = regbench::usb::BridgeVendorId;
        link.ProductId = regbench::usb::BridgeProductId;
        sim.setTimeoutCap(30); // a reply that never comes must not hold a test for 30 s
    }
    void startUp() {
        link.startUp([this](int ms) {
            QCOMPARE(ms, 1000);
            ++pauses;
            QTest::qWait(20); // long enough for every queued arrival
        });
    }
    void settle() { QTest::qWait(20); }
    void clearLog() { log.content.clear(); }
};

} // namespace

class BridgeLinkTest : public QObject {
    Q_OBJECT
private slots:
    void startUpWithBridgeReportsDetectionOnly() {
        Rig rig;
        rig.startUp();
        QCOMPARE(rig.log.lines(), DetectedReport);
        // The attach lines were written during the wait and cleared with the rest.
        QVERIFY(rig.log.everything.startsWith(QStringLiteral(
            "Initializing driver for USB-to-I2C interface...\r\nUSB-to-I2C driver initialization "
            "successful.\r\n"
            "Searching for USB-to-I2C interface...\r\nDeviceAttach: Received attach for \r\n")));
        QVERIFY(rig.link.DeviceAttached);
        QCOMPARE(rig.link.DeviceContext.DeviceHandle, 1u);
        QCOMPARE(rig.link.DriverHandle, 1u);
    }

    void startUpWithoutBridgeReportsNotDetected() {
        Rig rig;
        rig.sim.setAutoPlug(false);
        rig.startUp();
        QCOMPARE(rig.log.lines(),
                 (QStringList{QStringLiteral("Initializing driver for USB-to-I2C interface..."),
                              QStringLiteral("USB-to-I2C driver initialization successful."),
                              QStringLiteral("Searching for USB-to-I2C interface..."),
                              QStringLiteral("USB-to-I2C interface not detected. Please check "
                                             "connections.")}));
        QVERIFY(!rig.link.DeviceAttached);

        // A bridge that arrives later is still taken, without the detection report.
        rig.sim.plugBridge();
        rig.settle();
        QVERIFY(rig.link.DeviceAttached);
        QVERIFY(!rig.log.content.contains(QStringLiteral("interface detected.")));
    }

    void failedInitLogsStatusAndNeverSearches() {
        Rig rig;
        rig.sim.setInitStatus(UsbStatus::NotFound);
        rig.startUp();
        QCOMPARE(rig.pauses, 0);
        QCOMPARE(rig.log.lines(),
                 (QStringList{QStringLiteral("Initializing driver for USB-to-I2C interface..."),
                              QStringLiteral("Form_Activate(): Failed to initialize USB driver: "
                                             "error &HE0000007"),
                              QStringLiteral("(Not found)"),
                              QStringLiteral("USB-to-I2C driver initialization failure.")}));
        rig.link.shutDown();
        QCOMPARE(rig.sim.uninitCalls(), 0);
    }

    void shutDownClosesOnceAndOnlyAPositiveHandle_data() {
        QTest::addColumn<quint32>("driverHandle");
        QTest::addColumn<int>("uninitCalls");
        QTest::newRow("small handle") << 7u << 1;
        QTest::newRow("negative as signed") << 0x80000000u << 0;
    }
    void shutDownClosesOnceAndOnlyAPositiveHandle() {
        QFETCH(quint32, driverHandle);
        QFETCH(int, uninitCalls);
        Rig rig;
        rig.sim.setDriverHandleValue(driverHandle);
        rig.startUp();
        const QString before = rig.log.content;
        rig.link.shutDown();
        rig.link.shutDown();
        QCOMPARE(rig.sim.uninitCalls(), uninitCalls);
        if (uninitCalls > 0) {
            QCOMPARE(rig.sim.lastUninitHandle(), driverHandle);
        }
        QCOMPARE(rig.log.content, before); // shut-down logs nothing
        QVERIFY(rig.link.DeviceAttached);  // and leaves the attach state alone
    }

    void attachLogsIdsAsUnsignedSixteenBit() {
        Rig rig;
        rig.link.VendorId = 0xFFFE;
        rig.link.ProductId = 0x8001;
        rig.sim.setAutoPlug(false);
        rig.startUp();
        rig.clearLog();
        rig.sim.plugBridge(0xFFFE, 0x8001);
        rig.settle();
        const QStringList expected =
            attachLines(QStringLiteral("FFFE"), QStringLiteral("8001"), QStringLiteral("1")) + AcceptLines;
        QCOMPARE(rig.log.lines(), expected);
    }

    void secondBridgeIsRefusedAndFirstStaysInUse() {
        Rig rig;
        rig.startUp();
        rig.clearLog();
        rig.sim.plugBridge();
        rig.settle();
        const QStringList expected =
            attachLines(QStringLiteral("1209"), QStringLiteral("1"), QStringLiteral("2")) +
            QStringList{QStringLiteral("DeviceAttach: Previous attached already accepted control of the "
                                       "device - "),
                        QStringLiteral("control is rejected because only one device control is supported"),
                        QStringLiteral("DeviceAttach: Rejecting control of the device")};
        QCOMPARE(rig.log.lines(), expected);
        QCOMPARE(rig.link.DeviceContext.DeviceHandle, 1u);
        QVERIFY(rig.link.DeviceAttached);
        rig.pipes.TransferPipe = 0x02;
        rig.pipes.TransferBuffer = {0x01, 0x39, 0x00};
        rig.pipes.TransferLength = 3;
        QVERIFY(rig.pipes.WritePipe());
        QCOMPARE(rig.sim.transfers().back().handle, 1u);
    }

    void unplugAndReplugDetachesThenAttachesAnew() {
        Rig rig;
        rig.startUp();
        rig.clearLog();
        rig.sim.unplugBridge(rig.sim.heldDevice());
        rig.settle();
        QCOMPARE(rig.log.lines(),
                 QStringList{QStringLiteral("DeviceDetach: Received detach for device handle &H1")});
        QVERIFY(!rig.link.DeviceAttached);
        QCOMPARE(rig.link.DeviceContext.DeviceHandle, 0u);

        rig.clearLog();
        rig.sim.plugBridge();
        rig.settle();
        const QStringList expected =
            attachLines(QStringLiteral("1209"), QStringLiteral("1"), QStringLiteral("2")) + AcceptLines;
        QCOMPARE(rig.log.lines(), expected);
        QVERIFY(rig.link.DeviceAttached);
    }

    void detachNamingAnyHandleClearsTheHeldOne() {
        Rig rig;
        rig.startUp();
        rig.link.DeviceDetach(0xDEADBEEF, nullptr);
        QCOMPARE(rig.log.lines().constLast(),
                 QStringLiteral("DeviceDetach: Received detach for device handle &HDEADBEEF"));
        QCOMPARE(rig.link.DeviceContext.DeviceHandle, 0u);
        QVERIFY(!rig.link.DeviceAttached);
    }

    void failingSetInterfaceRefusesAndFreesThePlace() {
        Rig rig;
        rig.link.DeviceContext.AlternateSetting = 1;
        rig.sim.setSetInterfaceStatus(UsbStatus::Busy);
        rig.startUp();
        QVERIFY(rig.log.lines().contains(
            QStringLiteral("USB-to-I2C interface not detected. Please check connections.")));
        const QStringList expected =
            attachLines(QStringLiteral("1209"), QStringLiteral("1"), QStringLiteral("1")) +
            QStringList{QStringLiteral("DeviceAttach: WDU_SetInterface failed"),
                        QStringLiteral("(num.  0 alternate  1)"),
                        QStringLiteral("device &H1: error &HE0000006"),
                        QStringLiteral("(The device or interface is busy)"),
                        QStringLiteral("DeviceAttach: Rejecting control of the device")};
        QVERIFY2(rig.log.everything.contains(expected.join(QStringLiteral("\r\n"))),
                 qPrintable(rig.log.everything));
        QCOMPARE(rig.link.DeviceContext.DeviceHandle, 0u);
        QCOMPARE(rig.link.DeviceContext.InterfaceStatus, UsbStatus::Busy);

        rig.sim.setSetInterfaceStatus(UsbStatus::Success);
        rig.sim.plugBridge();
        rig.settle();
        QVERIFY(rig.link.DeviceAttached);
        QCOMPARE(rig.sim.setInterfaceCalls(), 2);
    }

    void signedDecimal() {
        const std::pair<std::int32_t, const char*> cases[] = {
            {0, " 0"}, {10, " 10"}, {-1, "-1"}, {-2147483647 - 1, "-2147483648"}};
        for (const auto& [value, text] : cases)
            QCOMPARE(BridgeLink::signedDecimal(value), QLatin1String(text));
    }

    void statusTextStopsAtNul_data() {
        QTest::addColumn<QByteArray>("libraryText");
        QTest::addColumn<QString>("shown");
        QTest::newRow("nul inside") << QByteArray("Device gone\0garbage", 19)
                                    << QStringLiteral("Device gone");
        QTest::newRow("leading nul") << QByteArray("\0x", 2) << QString();
        QTest::newRow("no nul") << QByteArray("Whole text \xB5s") << QStringLiteral("Whole text \u00B5s");
    }
    void statusTextStopsAtNul() {
        QFETCH(QByteArray, libraryText);
        QFETCH(QString, shown);
        Rig rig;
        rig.sim.setStatusText(UsbStatus::IoError, libraryText);
        QCOMPARE(rig.link.StatusText(UsbStatus::IoError), shown);
    }

    // ---- pipe transfers ----

    void successfulTransfersLogNothing() {
        Rig rig;
        rig.startUp();
        rig.clearLog();
        rig.pipes.TransferPipe = 0x02;
        rig.pipes.TransferBuffer = {0x00, 0x38, 0x10, 0x07};
        rig.pipes.TransferLength = 4;
        QVERIFY(rig.pipes.WritePipe());
        rig.pipes.TransferPipe = 0x82;
        rig.pipes.TransferBuffer.assign(10, 0);
        rig.pipes.TransferLength = 4;
        QVERIFY(rig.pipes.ReadPipe());
        QCOMPARE(rig.log.content, QString());
        QCOMPARE(rig.link.LastStatus, 0u);
        const auto& out = rig.sim.transfers().at(0);
        QCOMPARE(out.out, QByteArray("\x00\x38\x10\x07", 4));
        QCOMPARE(out.readFlag, 0u);
        QCOMPARE(out.timeoutMs, 30000u);
        QCOMPARE(out.options, 0u);
        QCOMPARE(out.setup, (std::array<std::uint8_t, 8>{}));
        QCOMPARE(rig.sim.transfers().at(1).readFlag, 1u);
        QCOMPARE(rig.sim.transfers().at(1).length, 4u);
        QCOMPARE(rig.sim.deviceInfoCalls(), 2); // fetched afresh before every transfer
    }

    void deviceInfoFailureLogsThreeLines_data() {
        QTest::addColumn<bool>("read");
        QTest::addColumn<QString>("name");
        QTest::newRow("write") << false << QStringLiteral("WritePipe");
        QTest::newRow("read") << true << QStringLiteral("ReadPipe");
    }
    void deviceInfoFailureLogsThreeLines() {
        QFETCH(bool, read);
        QFETCH(QString, name);
        Rig rig;
        rig.startUp();
        rig.clearLog();
        rig.sim.setDeviceInfoStatus(UsbStatus::IoError);
        rig.pipes.TransferPipe = read ? 0x82 : 0x02;
        rig.pipes.TransferBuffer.assign(3, 0);
        rig.pipes.TransferLength = 3;
        QVERIFY(!(read ? rig.pipes.ReadPipe() : rig.pipes.WritePipe()));
        QCOMPARE(rig.log.lines(),
                 (QStringList{name + QStringLiteral(": WDU_GetDeviceInfo() failed:"),
                              QStringLiteral("error &HE0000008 (Input/output error)"), QString()}));
        QCOMPARE(rig.link.LastStatus, UsbStatus::IoError);
        QVERIFY(rig.sim.transfers().empty());
    }

    void shortReplyKeepsUnfilledBytesAndCountsWhatCame() {
        Rig rig;
        rig.startUp();
        rig.sim.setReplyLength(1);
        rig.pipes.TransferPipe = 0x02;
        rig.pipes.TransferBuffer = {1, 0x39, 0};
        rig.pipes.TransferLength = 3;
        QVERIFY(rig.pipes.WritePipe());
        rig.clearLog();
        rig.pipes.TransferPipe = 0x82;
        rig.pipes.TransferBuffer = {0, 0x77, 0x66};
        rig.pipes.TransferLength = 3;
        QVERIFY(rig.pipes.ReadPipe());
        QCOMPARE(rig.log.content, QString());
        QCOMPARE(rig.pipes.BytesTransferred, 1u);
        QCOMPARE(rig.pipes.TransferBuffer.at(1), std::uint8_t{0x77});
    }

    // The layer is never handed more room than the buffer has, and no buffer at all for nothing to move.
    void lengthHandedToTheLayer_data() {
        QTest::addColumn<int>("bufferSize");
        QTest::addColumn<int>("length");
        QTest::addColumn<quint32>("passed");
        QTest::newRow("zero") << 3 << 0 << 0u;
        QTest::newRow("negative") << 3 << -5 << 0u;
        QTest::newRow("beyond the buffer") << 2 << 64 << 2u;
        QTest::newRow("within") << 10 << 4 << 4u;
    }
    void lengthHandedToTheLayer() {
        QFETCH(int, bufferSize);
        QFETCH(int, length);
        QFETCH(quint32, passed);
        Rig rig;
        rig.startUp();
        rig.pipes.TransferPipe = 0x82;
        rig.pipes.TransferBuffer.assign(static_cast<std::size_t>(bufferSize), 0);
        rig.pipes.TransferLength = length;
        rig.pipes.ReadPipe();
        QCOMPARE(rig.sim.transfers().back().length, passed);
        QCOMPARE(rig.sim.transfers().back().bufferNull, passed == 0);
    }
};

QTEST_GUILESS_MAIN(BridgeLinkTest)
#include "BridgeLinkTest.moc"
