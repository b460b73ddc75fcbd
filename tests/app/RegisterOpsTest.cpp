// Reading and writing registers through the window on the simulated bridge: the bytes on the wire, the
// panel, the stored values and the log, for single registers, groups and the whole device, with faults.
#include "support/ModalCloser.h"
#include "support/WindowRig.h"

#include "panels/HexLineEdit.h"
#include "panels/RegisterPanel.h"
#include "panels/UpDown.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

using regbench::tests::ModalCloser;
using regbench::tests::WindowRig;
using regbench::usb::sim::SimUsbDriver;
namespace UsbStatus = regbench::usb::UsbStatus;

namespace {

const QString NotDetected = QStringLiteral("USB-to-I2C interface not detected. Please check connections.");

regbench::usb::sim::SimChip& chip(WindowRig& rig) {
    return rig.sim.chip(rig.sim.heldDevice());
}

QList<QByteArray> requests(const WindowRig& rig) {
    QList<QByteArray> sent;
    for (const SimUsbDriver::TransferRecord& record : rig.sim.transfers()) {
        if (record.readFlag == 0) {
            sent << record.out;
        }
    }
    return sent;
}

QString panelText(const WindowRig& rig, int panel) {
    return rig.find<QLineEdit>(QStringLiteral("tbRegdata_%1").arg(panel))->text();
}

// A started window with register 5 (panel 0) holding 0xA0 on the chip and a clean log and record.
void prepare(WindowRig& rig) {
    rig.start();
    chip(rig).write(5, 0xA0);
    rig.sim.clearTransfers();
    rig.clearLog();
}

} // namespace

class RegisterOpsTest : public QObject {
    Q_OBJECT
private slots:
    void readBringsTheValueIntoPanelTableAndLog() {
        WindowRig rig;
        prepare(rig);
        rig.find<QPushButton>(QStringLiteral("cbRead_0"))->click();
        QCOMPARE(requests(rig), QList<QByteArray>{QByteArray("\x01\x39\x05", 3)});
        const SimUsbDriver::TransferRecord& reply = rig.sim.transfers().back();
        QCOMPARE(reply.pipe, 0x82u);
        QCOMPARE(reply.length, 3u);
        QCOMPARE(panelText(rig, 0), QStringLiteral("A0"));
        QCOMPARE(rig.value(5), 160);
        QCOMPARE(rig.window->panel(0).upDown()->value(), 160);
        QCOMPARE(rig.find<QPushButton>(QStringLiteral("cbRegToggleBit_7"))->text(), QStringLiteral("1"));
        QCOMPARE(rig.find<QPushButton>(QStringLiteral("cbRegToggleBit_6"))->text(), QStringLiteral("0"));
        QCOMPARE(rig.find<QPushButton>(QStringLiteral("cbRegToggleBit_5"))->text(), QStringLiteral("1"));
        QCOMPARE(rig.logLines(), QStringList{QStringLiteral("Reading register 0x05 = 0xA0 successful")});
    }

    void replyStatusDecidesTheLine_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("readLine");
        QTest::addColumn<bool>("taken");
        const QString general = QStringLiteral("Reading register 0x05 failed: General I2C error");
        const QString noAck =
            QStringLiteral("Reading register 0x05 failed: No ACK from slave. Check power and connections.");
        QTest::newRow("0x80") << 0x80 << general << false;
        QTest::newRow("0xC0 bit 7 wins") << 0xC0 << general << false;
        QTest::newRow("0x40") << 0x40 << noAck << false;
        QTest::newRow("0x3F is success")
            << 0x3F << QStringLiteral("Reading register 0x05 = 0x12 successful") << true;
    }
    void replyStatusDecidesTheLine() {
        QFETCH(int, status);
        QFETCH(QString, readLine);
        QFETCH(bool, taken);
        WindowRig rig;
        prepare(rig);
        rig.window->panel(0).upDown()->setValue(0x33); // what the user holds
        rig.sim.setReplyStatus(static_cast<std::uint8_t>(status));
        rig.sim.setReplyData(0x12);
        rig.window->cbRead_Click(0);
        QCOMPARE(rig.logLines().constLast(), readLine);
        // A failed read brings no register value: the user's value stays.
        QCOMPARE(panelText(rig, 0), taken ? QStringLiteral("12") : QStringLiteral("33"));
        QCOMPARE(rig.value(5), taken ? 0x12 : 0x33);

        rig.window->cbWrite_Click(0);
        QCOMPARE(rig.logLines().constLast(),
                 QString(readLine).replace(QStringLiteral("Reading"), QStringLiteral("Writing")));
    }

    void writeSendsThePanelText() {
        WindowRig rig;
        prepare(rig);
        auto* box = rig.window->panel(1).hexText();
        box->setFocus();
        box->selectAll();
        QTest::keyClicks(box, QStringLiteral("7")); // the single digit 7
        QCOMPARE(box->text(), QStringLiteral("7"));
        rig.sim.clearTransfers();
        rig.find<QPushButton>(QStringLiteral("cbWrite_1"))->click();
        QCOMPARE(requests(rig), QList<QByteArray>{QByteArray("\x00\x38\x10\x07", 4)});
        QCOMPARE(rig.sim.transfers().back().length, 4u);
        QCOMPARE(rig.logLines(), QStringList{QStringLiteral("Writing register 0x10 = 0x07 successful")});
        QCOMPARE(rig.value(0x10), 7);
        QCOMPARE(chip(rig).read(0x10), std::uint8_t{7});
    }

    void failedTransfersReportFailureNotSuccess_data() {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QStringList>("readLines");
        QTest::addColumn<int>("transfers");
        enum { InfoFails, ReplyTimesOut, ShortReply, NoPipes };
        QTest::newRow("request cannot go out")
            << int(InfoFails)
            << QStringList{"WritePipe: WDU_GetDeviceInfo() failed:", "error &HE0000008 (Input/output error)",
                           "", "Reading register 0x05 failed: USB transfer error"}
            << 0;
        QTest::newRow("reply never comes")
            << int(ReplyTimesOut)
            << QStringList{"ReadPipe: WDU_Transfer() failed: error &HE0000003 (The transfer timed out)",
                           "Read Pipe failed", "Reading register 0x05 failed: USB transfer error"}
            << 2;
        QTest::newRow("reply without data")
            << int(ShortReply) << QStringList{"Reading register 0x05 failed: USB transfer error"} << 2;
        QTest::newRow("no pipes") << int(NoPipes)
                                  << QStringList{"  No pipes are defined for this device ",
                                                 "other than the default pipe (number 0)",
                                                 "Write Pipe failed",
                                                 "Reading register 0x05 failed: USB transfer error"}
                                  << 0;
    }
    void failedTransfersReportFailureNotSuccess() {
        QFETCH(int, fault);
        QFETCH(QStringList, readLines);
        QFETCH(int, transfers);
        WindowRig rig;
        prepare(rig);
        rig.window->panel(0).upDown()->setValue(0x5C);
        switch (fault) {
        case 0:
            rig.sim.setDeviceInfoStatus(UsbStatus::IoError);
            break;
        case 1:
            rig.sim.setDropReplies(true);
            break;
        case 2:
            rig.sim.setReplyLength(1);
            break;
        default:
            rig.sim.setEndpointCount(0);
        }
        rig.window->cbRead_Click(0);
        QCOMPARE(rig.logLines(), readLines);
        QCOMPARE(static_cast<int>(rig.sim.transfers().size()),
                 transfers); // no reply asked after a failed request
        QCOMPARE(panelText(rig, 0), QStringLiteral("5C"));
        QCOMPARE(rig.value(5), 0x5C);
    }

    void failedWriteStillKeepsTheProgramsCopy() {
        WindowRig rig;
        prepare(rig);
        rig.sim.setReplyLength(0); // an empty reply holds no status
        rig.window->panel(0).upDown()->setValue(0x44);
        rig.window->cbWrite_Click(0);
        QCOMPARE(rig.logLines().constLast(),
                 QStringLiteral("Writing register 0x05 failed: USB transfer error"));
        QCOMPARE(rig.value(5), 0x44);
    }

    void detachedBridgeShowsTheBoxForEveryPanel() {
        ModalCloser closer;
        WindowRig rig(regbench::tests::testMap(), false);
        rig.start();
        rig.clearLog();
        rig.window->cbRead_Click(5); // an empty slot is tested for the bridge too
        rig.window->cbWriteRegs_Click();
        QCOMPARE(closer.texts, QStringList(7, QStringLiteral("USB Device not connected!")));
        const QStringList expected = QStringList{NotDetected, "Writing register group:"} +
                                     QStringList(6, NotDetected) + QStringList{QString()};
        QCOMPARE(rig.logLines(), expected);
        closer.texts.clear();
        rig.clearLog();
        rig.window->cbReadAllRegs_Click();
        QCOMPARE(closer.texts.size(), 1);
        QCOMPARE(rig.logLines(), (QStringList{"Reading all device registers:", NotDetected, QString()}));
        QVERIFY(rig.sim.transfers().empty());
    }

    void emptySlotDoesNothingWhileAttached() {
        WindowRig rig;
        prepare(rig);
        rig.window->cbRead_Click(4);
        rig.window->cbWrite_Click(4);
        QCOMPARE(rig.log(), QString());
        QVERIFY(rig.sim.transfers().empty());
    }

    void readGroupVisitsEveryPanelAndPausesAfterEach() {
        WindowRig rig;
        prepare(rig);
        QElapsedTimer clock;
        clock.start();
        rig.window->cbReadRegs_Click();
        QVERIFY(clock.elapsed() >= 60); // six pauses of 10 ms, empty panels included
        QCOMPARE(rig.logLines(),
                 (QStringList{"Reading register group:", "Reading register 0x05 = 0xA0 successful",
                              "Reading register 0x10 = 0x00 successful",
                              "Reading register 0x3A = 0x00 successful", QString()}));
    }

    void writeGroupTakesPanelTexts() {
        WindowRig rig;
        prepare(rig);
        rig.window->panel(2).hexText()->applyState({QStringLiteral("9E"), 0, 0}); // text only, not yet stored
        rig.window->cbWriteRegs_Click();
        QCOMPARE(requests(rig).at(2), QByteArray("\x00\x38\x3A\x9E", 4));
        QCOMPARE(rig.value(0x3A), 0x9E);
    }

    void readAllVisitsNamedRegistersOnceInOrderAndWriteAllSendsThemBack() {
        WindowRig rig;
        prepare(rig);
        rig.sim.setReplyStatus(std::nullopt);
        chip(rig).write(0xFF, 0x0F);
        rig.window->cbReadAllRegs_Click();
        QList<QByteArray> expected;
        for (int a : {0, 5, 10, 16, 32, 33, 58, 255}) { // 64 has no name; 5 stands on two tabs
            expected << QByteArray("\x01\x39", 2) + char(a);
        }
        QCOMPARE(requests(rig), expected);
        QCOMPARE(rig.logLines().first(), QStringLiteral("Reading all device registers:"));
        QCOMPARE(rig.logLines().at(1), QStringLiteral("Reading register 0x00 = 0xB7 successful"));
        QCOMPARE(rig.logLines().at(8), QStringLiteral("Reading register 0xFF = 0x0F successful"));
        QCOMPARE(rig.logLines().constLast(), QString());
        QCOMPARE(panelText(rig, 0), QStringLiteral("A0")); // the page shows what was read

        rig.sim.clearTransfers();
        rig.window->cbWriteAllRegs_Click();
        const QList<QByteArray> sent = requests(rig);
        QCOMPARE(sent.size(), 8);
        QCOMPARE(sent.at(1), QByteArray("\x00\x38\x05\xA0", 4));
        QCOMPARE(sent.at(7), QByteArray("\x00\x38\xFF\x0F", 4));
    }

    void failureLineDoesNotStopReadAll() {
        WindowRig rig;
        prepare(rig);
        rig.sim.setReplyStatus(0x40);
        rig.window->cbReadAllRegs_Click();
        QCOMPARE(rig.logLines().size(), 10);
        QVERIFY(
            rig.logLines().at(8).endsWith(QStringLiteral("No ACK from slave. Check power and connections.")));
    }

    void unnamedRegisterIsReadFromItsPanel() {
        WindowRig rig;
        prepare(rig);
        rig.find<QTabWidget>(QStringLiteral("TabStrip1"))->setCurrentIndex(2);
        rig.window->cbRead_Click(0);
        QCOMPARE(requests(rig), QList<QByteArray>{QByteArray("\x01\x39\x40", 3)});
    }

    void clickInsideAGroupPauseRunsToItsEnd() {
        WindowRig rig;
        prepare(rig);
        QTimer::singleShot(15, rig.window.get(), [&] { rig.window->cbWrite_Click(0); });
        rig.window->cbReadRegs_Click();
        const QStringList lines = rig.logLines();
        QCOMPARE(lines.size(), 6);
        QVERIFY(lines.contains(QStringLiteral("Writing register 0x05 = 0xA0 successful")));
        QCOMPARE(lines.constLast(), QString());
        QCOMPARE(lines.first(), QStringLiteral("Reading register group:"));
    }

    void tabChangeDuringReadGroupSwitchesTheRemainingPanels() {
        WindowRig rig;
        prepare(rig);
        auto* tabs = rig.find<QTabWidget>(QStringLiteral("TabStrip1"));
        bool switched = false;
        // After the first panel's access, during its pause.
        QTimer::singleShot(1, rig.window.get(), [&] {
            tabs->setCurrentIndex(1);
            switched = true;
        });
        rig.window->cbReadRegs_Click();
        QVERIFY(switched);
        QList<QByteArray> expected{QByteArray("\x01\x39\x05", 3)};
        for (int a : {10, 255, 5, 32, 33}) {
            expected << QByteArray("\x01\x39", 2) + char(a);
        }
        QCOMPARE(requests(rig), expected);
    }

    void unplugDuringReadAllFailsTheRestCleanly() {
        WindowRig rig;
        prepare(rig);
        rig.sim.unplugAfterRequests(3); // gone between the third request and its reply
        rig.window->cbReadAllRegs_Click();
        const QStringList lines = rig.logLines();
        QCOMPARE(lines.at(2), QStringLiteral("Reading register 0x05 = 0xA0 successful"));
        QVERIFY(lines.contains(QStringLiteral("Reading register 0x0A failed: USB transfer error")));
        QVERIFY(lines.contains(QStringLiteral("Reading register 0x10 failed: USB transfer error")));
        QVERIFY(lines.contains(QStringLiteral("DeviceDetach: Received detach for device handle &H1")));
        QCOMPARE(lines.count(QStringLiteral("ReadPipe: WDU_GetDeviceInfo() failed:")) +
                     lines.count(QStringLiteral("WritePipe: WDU_GetDeviceInfo() failed:")),
                 6); // the reply of 0x0A, then the requests of the five registers after it
        QCOMPARE(lines.count(QStringLiteral("Reading register 0xFF failed: USB transfer error")), 1);
        QCOMPARE(lines.constLast(), QString());
        QVERIFY(!rig.window->bridgeLink().DeviceAttached);

        // Plugged in again, the next access works.
        rig.sim.plugBridge();
        QTRY_VERIFY(rig.window->bridgeLink().DeviceAttached);
        rig.clearLog();
        rig.window->cbRead_Click(0);
        QCOMPARE(rig.logLines(), QStringList{QStringLiteral("Reading register 0x05 = 0x00 successful")});
    }

    void closingDuringWriteAllStopsSendingAndClosesOnce() {
        WindowRig rig;
        prepare(rig);
        std::size_t sentAtClose = 0;
        QTimer::singleShot(25, rig.window.get(), [&] {
            sentAtClose = rig.sim.transfers().size();
            rig.window->close();
        });
        rig.window->cbWriteAllRegs_Click();
        QVERIFY(sentAtClose > 0);
        QCOMPARE(rig.sim.transfers().size(), sentAtClose);
        QCOMPARE(rig.sim.uninitCalls(), 1);
        rig.window.reset();
        QCOMPARE(rig.sim.uninitCalls(), 1);
    }
};

QTEST_MAIN(RegisterOpsTest)
#include "RegisterOpsTest.moc"
