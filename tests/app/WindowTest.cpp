// The window as a user meets it: what the map puts on it, which panels show, the boxes for a missing or
// unreadable map, the log, the layout, and quitting.
#include "support/ModalCloser.h"
#include "support/WindowRig.h"

#include "panels/RegisterPanel.h"
#include "panels/UpDown.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTimer>

using regbench::tests::ModalCloser;
using regbench::tests::WindowRig;

namespace {

QRgb colourOf(QPushButton* button) {
    // Away from the caption, inside the one-pixel border.
    return button->grab().toImage().pixel(3, button->height() / 2) & 0xFFFFFF;
}

bool shown(const WindowRig& rig, int panel) {
    return !rig.find<QWidget>(QStringLiteral("fmRegCtrls_%1").arg(panel))->isHidden();
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT
private slots:
    void mapSetsTitlesAndTabs() {
        WindowRig rig;
        rig.start();
        QCOMPARE(rig.window->windowTitle(), QStringLiteral("Bench under test"));
        QCOMPARE(rig.find<QLabel>(QStringLiteral("lblQXVDevice"))->text(), QStringLiteral("Test chip T-1"));
        auto* tabs = rig.find<QTabWidget>(QStringLiteral("TabStrip1"));
        QCOMPARE(tabs->count(), 3);
        QCOMPARE(tabs->tabText(1), QStringLiteral("Full"));
        QCOMPARE(tabs->currentIndex(), 0);
    }

    void panelsFollowTheSelectedTab_data() {
        QTest::addColumn<int>("tab");
        QTest::addColumn<QList<bool>>("visible");
        QTest::addColumn<QStringList>("addresses");
        QTest::newRow("three") << 0 << QList<bool>{true, true, true, false, false, false}
                               << QStringList{"05", "10", "3A"};
        QTest::newRow("six") << 1 << QList<bool>{true, true, true, true, true, true}
                             << QStringList{"00", "0A", "FF", "05", "20", "21"};
        QTest::newRow("one") << 2 << QList<bool>{true, false, false, false, false, false}
                             << QStringList{"40"};
    }
    void panelsFollowTheSelectedTab() {
        QFETCH(int, tab);
        QFETCH(QList<bool>, visible);
        QFETCH(QStringList, addresses);
        WindowRig rig;
        rig.start();
        rig.find<QTabWidget>(QStringLiteral("TabStrip1"))->setCurrentIndex(tab);
        for (int p = 0; p < 6; ++p) {
            QCOMPARE(shown(rig, p), visible.at(p));
        }
        for (int p = 0; p < addresses.size(); ++p) {
            QCOMPARE(rig.find<QLabel>(QStringLiteral("lblRegAddr_%1").arg(p))->text(),
                     QStringLiteral("@ reg addr 0x") + addresses.at(p));
        }
    }

    void panelShowsNamesAndTheStoredValue() {
        WindowRig rig;
        rig.start();
        QCOMPARE(rig.find<QLabel>(QStringLiteral("lblRegName_0"))->text(), QStringLiteral("ALPHA"));
        QCOMPARE(rig.find<QLabel>(QStringLiteral("lblBitName_7"))->text(), QStringLiteral("A7"));
        QCOMPARE(rig.find<QLabel>(QStringLiteral("lblBitName_0"))->text(), QStringLiteral("A0"));
        QCOMPARE(rig.find<QLabel>(QStringLiteral("lblBitName_8"))->text(),
                 QString()); // BETA has no bit names
        // A never-read register: 00 and every bit a grey "0".
        QCOMPARE(rig.find<QLineEdit>(QStringLiteral("tbRegdata_1"))->text(), QStringLiteral("00"));
        for (int i = 0; i < 24; ++i) {
            auto* bit = rig.find<QPushButton>(QStringLiteral("cbRegToggleBit_%1").arg(i));
            QCOMPARE(bit->text(), QStringLiteral("0"));
        }
    }

    void bitButtonsShowExactColours() {
        WindowRig rig;
        rig.start();
        // A5 through the up-down: bits 7, 5, 2 and 0 set.
        rig.window->panel(0).upDown()->setValue(0xA5);
        const QString expected = QStringLiteral("10100101");
        for (int b = 7; b >= 0; --b) {
            auto* bit = rig.find<QPushButton>(QStringLiteral("cbRegToggleBit_%1").arg(b));
            const bool set = expected.at(7 - b) == QLatin1Char('1');
            QCOMPARE(bit->text(), set ? QStringLiteral("1") : QStringLiteral("0"));
            QCOMPARE(colourOf(bit), set ? QRgb{0x00FF00} : QRgb{0x7F7F7F});
        }
    }

    void missingAndUnreadableMapShowTheirBox_data() {
        QTest::addColumn<bool>("asDirectory");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing") << false << QStringLiteral("Configuration file (tabdefs.csv) not found.");
        QTest::newRow("unreadable") << true
                                    << QStringLiteral("Configuration file (tabdefs.csv) could not be read.");
    }
    void missingAndUnreadableMapShowTheirBox() {
        QFETCH(bool, asDirectory);
        QFETCH(QString, message);
        ModalCloser closer;
        WindowRig rig(QByteArray(), true, false);
        if (asDirectory) {
            QVERIFY(QDir(rig.dir.path()).mkdir(QStringLiteral("tabdefs.csv")));
        }
        rig.start();
        QCOMPARE(closer.texts, QStringList{message});
        QCOMPARE(closer.titles, QStringList{QStringLiteral("regbench")});
        QCOMPARE(closer.hadIcon, QList<bool>{false});
        QCOMPARE(closer.buttonCounts, QList<int>{1});
        // The window opens with its placeholders, and the driver start-up still runs.
        QCOMPARE(rig.window->windowTitle(), QStringLiteral("Defined in tabdefs.csv: TITLEBAR"));
        QCOMPARE(rig.find<QLabel>(QStringLiteral("lblQXVDevice"))->text(),
                 QStringLiteral("Defined in tabdefs.csv: TITLE"));
        QCOMPARE(rig.find<QTabWidget>(QStringLiteral("TabStrip1"))->count(), 0);
        for (int p = 0; p < 6; ++p) {
            QVERIFY(shown(rig, p));
            QCOMPARE(rig.find<QLabel>(QStringLiteral("lblRegName_%1").arg(p))->text(),
                     QStringLiteral("REGNAME"));
            QCOMPARE(rig.find<QLabel>(QStringLiteral("lblRegAddr_%1").arg(p))->text(),
                     QStringLiteral("@ reg addr 0xXX"));
        }
        QCOMPARE(rig.find<QLabel>(QStringLiteral("lblBitName_47"))->text(), QStringLiteral("BITNAME"));
        QCOMPARE(rig.logLines(), (QStringList{QStringLiteral("USB-to-I2C driver initialization successful."),
                                              QStringLiteral("USB-to-I2C interface detected."), QString()}));
    }

    void mapWithoutTabsShowsNoPanel() {
        WindowRig rig(QByteArrayLiteral("TITLE,Only a title\r\nREG,5,ORPHAN\r\n"));
        rig.start();
        QCOMPARE(rig.find<QTabWidget>(QStringLiteral("TabStrip1"))->count(), 0);
        for (int p = 0; p < 6; ++p) {
            QVERIFY(!shown(rig, p));
        }
        // A register operation with no page to select from ends after the attach test.
        rig.clearLog();
        rig.window->cbReadRegs_Click();
        QCOMPARE(rig.logLines(), (QStringList{QStringLiteral("Reading register group:"), QString()}));
        QVERIFY(rig.sim.transfers().empty());
    }

    void clearLogEmptiesAndTheNextLineStartsAtTheTop() {
        WindowRig rig;
        rig.start();
        rig.find<QPushButton>(QStringLiteral("cmdClearLog"))->click();
        QCOMPARE(rig.log(), QString());
        rig.window->LogLine(QStringLiteral("first"));
        QCOMPARE(rig.log(), QStringLiteral("first\r\n"));
    }

    void layoutFollowsTwipsAndResizingMovesNothing() {
        WindowRig rig;
        rig.start();
        QCOMPARE(rig.window->size(), QSize(941, 445));
        QCOMPARE(rig.find<QWidget>(QStringLiteral("txtLog"))->geometry(), QRect(56, 320, 457, 105));
        QCOMPARE(rig.find<QWidget>(QStringLiteral("fmRegCtrls_1"))->geometry(), QRect(24, 216, 889, 57));
        // Neighbouring bit buttons of one panel touch at a rounded edge but never overlap.
        for (int b = 7; b > 0; --b) {
            const QRect left = rig.find<QWidget>(QStringLiteral("cbRegToggleBit_%1").arg(b))->geometry();
            const QRect right = rig.find<QWidget>(QStringLiteral("cbRegToggleBit_%1").arg(b - 1))->geometry();
            QVERIFY(left.right() < right.left());
        }
        const QRect quit = rig.find<QWidget>(QStringLiteral("cbQuit"))->geometry();
        rig.window->resize(1200, 1000);
        QCOMPARE(rig.find<QWidget>(QStringLiteral("cbQuit"))->geometry(), quit);
        // Panels 2 to 5 lie below the log and come into view in the enlarged window.
        QCOMPARE(rig.find<QWidget>(QStringLiteral("fmRegCtrls_5"))->geometry().top(), 704);
        for (const char* name : {"cbReadAllRegs", "cbWriteAllRegs", "cbReadRegs", "cbWriteRegs"}) {
            auto* button = rig.find<QPushButton>(QString::fromLatin1(name));
            QVERIFY(button->isHidden());
            QVERIFY(!button->isEnabled());
        }
    }

    void pauseWaitsWithoutBlockingAndNestsAsOne() {
        WindowRig rig;
        rig.start();
        QElapsedTimer clock;
        clock.start();
        bool clicked = false;
        QTimer::singleShot(0, rig.window.get(), [&] { clicked = true; });
        rig.window->Pause(10);
        QVERIFY(clock.elapsed() >= 10);
        QVERIFY(clicked); // events ran during the wait
        // A pause inside a pause restarts the shared timer: its tick ends both.
        clock.restart();
        QTimer::singleShot(5, rig.window.get(), [&] { rig.window->Pause(20); });
        rig.window->Pause(5000);
        QVERIFY(clock.elapsed() < 4000);
    }

    void quitClosesTheConnectionOnce() {
        WindowRig rig;
        rig.start();
        rig.find<QPushButton>(QStringLiteral("cbQuit"))->click();
        QVERIFY(rig.window->isUnloaded());
        QVERIFY(!rig.window->isVisible());
        rig.window.reset();
        QCOMPARE(rig.sim.uninitCalls(), 1);
    }

    void closingDuringTheStartUpWaitEndsCleanly() {
        WindowRig rig;
        rig.create();
        QTimer::singleShot(200, rig.window.get(), [&] { rig.window->close(); }); // inside the 1000 ms wait
        QElapsedTimer clock;
        clock.start();
        rig.window->showCentred();
        QVERIFY(QTest::qWaitFor([&] { return rig.window->startUpDone(); }, 5000));
        QVERIFY(clock.elapsed() < 900); // the wait ended with the window
        QCOMPARE(rig.sim.uninitCalls(), 1);
        QVERIFY(!rig.log().contains(QStringLiteral("detected"))); // no report to a closed window
        rig.window.reset();
        QCOMPARE(rig.sim.uninitCalls(), 1);
    }
};

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
