// The request and reply packets, and one access at the level below the window.
#include "access/BridgeReply.h"
#include "access/BridgeRequest.h"
#include "access/RegisterAccess.h"
#include "bridge/BridgeLink.h"
#include "bridge/PipeTransfer.h"
#include "support/RecordingLog.h"
#include "usb/sim/SimUsbDriver.h"

#include <QTest>

using regbench::access::BridgeReply;
using regbench::access::BridgeRequest;
using regbench::access::RegisterAccess;
using regbench::access::ReplyStatus;

class PacketTest : public QObject {
    Q_OBJECT
private slots:
    void requestsCarryOpcodeSlaveAddressAndRegister() {
        QCOMPARE(BridgeRequest::read(0x05), (std::vector<std::uint8_t>{0x01, 0x39, 0x05}));
        QCOMPARE(BridgeRequest::write(0xFF, 0x80), (std::vector<std::uint8_t>{0x00, 0x38, 0xFF, 0x80}));
    }

    void statusBitsDecode_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("outcome");
        QTest::newRow("clear") << 0x00 << int(ReplyStatus::Success);
        QTest::newRow("low bits ignored") << 0x3F << int(ReplyStatus::Success);
        QTest::newRow("no ack") << 0x40 << int(ReplyStatus::NoAck);
        QTest::newRow("general") << 0x80 << int(ReplyStatus::GeneralI2cError);
        QTest::newRow("both: bit 7 wins") << 0xC0 << int(ReplyStatus::GeneralI2cError);
        QTest::newRow("all") << 0xFF << int(ReplyStatus::GeneralI2cError);
    }
    void statusBitsDecode() {
        QFETCH(int, status);
        QFETCH(int, outcome);
        QCOMPARE(int(BridgeReply::decodeStatus(static_cast<std::uint8_t>(status))), outcome);
    }

    void replyFromShortBuffers() {
        QCOMPARE(BridgeReply::fromBuffer({}).Status, std::uint8_t{0});
        QCOMPARE(BridgeReply::fromBuffer({0x40}).Data, std::uint8_t{0});
        QCOMPARE(BridgeReply::fromBuffer({0x40, 0x12, 0x99}).Data, std::uint8_t{0x12});
    }

    void valueOverAByteIsNeverSentTruncated() {
        regbench::usb::sim::SimUsbDriver sim;
        regbench::tests::RecordingLog log;
        regbench::bridge::BridgeLink link(sim, log);
        regbench::bridge::PipeTransfer pipes(link, log);
        link.VendorId = regbench::usb::BridgeVendorId;
        link.ProductId = regbench::usb::BridgeProductId;
        link.startUp([](int) { QTest::qWait(20); });
        sim.clearTransfers();
        RegisterAccess access(pipes);
        const auto outcome = access.write(0x10, 0x107);
        QVERIFY(!outcome.succeeded);
        QCOMPARE(outcome.line, QStringLiteral("Writing register 0x10 failed: value does not fit in a byte"));
        QVERIFY(sim.transfers().empty());
        QVERIFY(access.write(0x10, 0xFF).succeeded);
    }
};

QTEST_GUILESS_MAIN(PacketTest)
#include "PacketTest.moc"
