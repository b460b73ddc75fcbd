// The window as a user and a screen reader meet it: what the map puts on it, the waits, and quitting.
#include "support/WindowRig.h"

#include "common/PreciseTimer.h"
#include "panels/HexLineEdit.h"
#include "panels/MapText.h"
#include "panels/RegisterPanel.h"
#include "panels/UpDown.h"

#include <QAccessible>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTextDocument>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QWindow>
#include <QtGui/private/qguiapplication_p.h>
#include <QtGui/qpa/qplatformaccessibility.h>
#include <QtGui/qpa/qplatformintegration.h>

using regbench::tests::WindowRig;
// A map record, the arguments, the address byte of a read request, and the line the start-up adds.
using AddressRow = std::tuple<QByteArray, QStringList, char, QString>;

namespace {

// The addresses of the panels that show, as "@05 @10 ".
QString addressesShown(const WindowRig& rig) {
    QString seen;
    for (int p = 0; p < 6; ++p)
        if (!rig.find<QWidget>(QStringLiteral("fmRegCtrls_%1").arg(p))->isHidden())
            seen += rig.find<QLabel>(QStringLiteral("lblRegAddr_%1").arg(p))->text() + ' ';
    return seen.replace(QStringLiteral("@ reg addr 0x"), QStringLiteral("@"));
}

// The text, then the value that the table, the up-down and the bit buttons must all agree on.
void checkViews(const WindowRig& rig, int panel, int address, const QString& text, int value) {
    const regbench::panels::RegisterPanel& shown = rig.window->panel(panel);
    QCOMPARE(shown.hexText()->text(), text);
    const int stored = rig.window->registerMap().RegValues.at(static_cast<std::size_t>(address));
    QCOMPARE((QList<int>{shown.bitsValue(), shown.upDownValue(), stored}), QList<int>(3, value));
    QVERIFY(!rig.window->panelUpdating());
}

// What a tooltip shows, markup read as it would be.
QString shownToolTip(const QString& toolTip) {
    QTextDocument document;
    document.setHtml(toolTip);
    return toolTip.isEmpty() ? QString() : document.toPlainText();
}

// What text objects tell assistive technology, heard here instead of by a screen reader.
QStringList heard;
void hear(QAccessibleEvent* event) {
    if (const auto* added = dynamic_cast<QAccessibleTextInsertEvent*>(event))
        heard << QStringLiteral("+%1 ").arg(added->changePosition()) + added->textInserted();
    else if (const auto* gone = dynamic_cast<QAccessibleTextRemoveEvent*>(event))
        heard << QStringLiteral("-%1 ").arg(gone->changePosition()) + gone->textRemoved();
    else if (const auto* caret = dynamic_cast<QAccessibleTextCursorEvent*>(event))
        heard << QStringLiteral("caret %1").arg(caret->cursorPosition());
    else if (event->type() == QAccessible::NameChanged)
        heard << QStringLiteral("name of ") + event->object()->objectName();
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT private slots :
        // Every test runs with accessibility on, as a screen reader switches it on.
        void
        initTestCase() {
        QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(true);
        QAccessible::installUpdateHandler(hear);
    }

    // The map is UTF-8 with LF line ends, as a Linux editor writes it. What a screen reader finds over the
    // bus is WindowAtspiTest's; here, what the sample map there does not hold (a bit without a name, texts
    // like markup or too long), that no new name is told where there is none, and what the log adds and that
    // Clear Log empties it. The pictures are built in: the rig's folder holds tabdefs.csv alone.
    void textsOfTheMapShowExactlyAsWrittenAndToScreenReaders() {
        const QString longName = QStringLiteral("<b>A_NAME_FAR_TOO_LONG_FOR_ITS_LABEL</b>");
        const QByteArray hugeCaption = QByteArray("Huge caption ").repeated(100'000);
        WindowRig rig("TITLEBAR,Bench [*]" + QByteArray(1, '\0') +
                      " <b>1</b>\nTITLE,<i>Chip</i> & <img src=x> \xC2\xB5\nTABNAME,R&D\nREG,5," +
                      longName.toLatin1() + "\nBITS,<b>7</b>,&6,\xC2\xB5s,4,3,2,1,0\nREG,6,SHORT\nTABNAME," +
                      hugeCaption + "\n");
        QVERIFY(rig.start());
        QCOMPARE(rig.window->windowHandle()->title(), QStringLiteral("Bench [*]\uFFFD <b>1</b>"));
        const auto* tabs = rig.find<QTabWidget>(QStringLiteral("TabStrip1"));
        QVERIFY(QKeySequence::mnemonic(tabs->tabText(0)).isEmpty()); // no shortcut hides in the caption
        QCOMPARE(tabs->tabText(0).replace(QStringLiteral("&&"), QStringLiteral("&")), QStringLiteral("R&D"));
        const std::pair<const char*, QString> labels[] = {
            {"lblQXVDevice", QStringLiteral("<i>Chip</i> & <img src=x> \u00b5")},
            {"lblBitName_7", QStringLiteral("<b>7</b>")},
            {"lblBitName_6", QStringLiteral("&6")},
            {"lblBitName_5", QStringLiteral("\u00b5s")},
            {"lblRegName_1", QStringLiteral("SHORT")}};
        for (const auto& [name, text] : labels) {
            const auto* label = rig.find<QLabel>(QString::fromLatin1(name));
            QCOMPARE(std::tuple(label->text(), label->textFormat(), label->toolTip()),
                     std::tuple(text, Qt::PlainText, QString())); // no tooltip: it fits
        }
        // A text too long for its place shows its start and "…", and whole in the tooltip as far as any
        // control shows a text.
        const auto* name = rig.find<QLabel>(QStringLiteral("lblRegName_0"));
        QVERIFY(name->text().endsWith(u'\u2026') && longName.startsWith(name->text().chopped(1)));
        QCOMPARE(shownToolTip(name->toolTip()) + '|' + name->accessibleName(), longName + '|' + longName);
        QVERIFY(tabs->tabText(1).size() < 200 && tabs->tabText(1).endsWith(u'\u2026'));
        QCOMPARE(shownToolTip(tabs->tabToolTip(1)),
                 QString::fromLatin1(hugeCaption.left(regbench::panels::MapText::ShownLength)) + u'\u2026');
        QCOMPARE(tabs->tabBar()->accessibleTabName(1), shownToolTip(tabs->tabToolTip(1)));
        QVERIFY(!rig.find<QLabel>("Image1")->pixmap().isNull() && !rig.window->windowIcon().isNull());
        auto* bit = QAccessible::queryAccessibleInterface(rig.find<QWidget>("cbRegToggleBit_8"));
        QCOMPARE(bit->text(QAccessible::Name) + '|' + bit->text(QAccessible::Description),
                 QStringLiteral("Bit 0|Bit 0 of SHORT (0x06)"));
        heard.clear();
        rig.sim.chip(rig.sim.heldDevice()).write(5, 0x5A);
        rig.window->cbRead_Click(0);
        rig.window->TabStrip1_Click();
        QVERIFY2(heard.filter(QStringLiteral("name of")).isEmpty(), qPrintable(heard.join(u',')));

        const QString before = rig.log().replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        const QString line = QStringLiteral("Reading register 0x05 = 0xC1 successful");
        heard.clear();
        rig.window->LogLine(line);
        rig.find<QPushButton>(QStringLiteral("cmdClearLog"))->click();
        QCOMPARE(heard,
                 (QStringList{QStringLiteral("+%1 %2\n").arg(before.size()).arg(line),
                              QStringLiteral("caret %1").arg(before.size() + line.size() + 1),
                              QStringLiteral("-0 ") + before + line + u'\n', QStringLiteral("caret 0")}));
    }

    // No tabs, no panels; the group and whole-device buttons, made hidden and disabled, stay so on any map.
    void aMapWithoutTabsShowsNoPanels() {
        WindowRig noTabs(QByteArrayLiteral("TITLE,Only a title\r\nREG,5,ORPHAN\r\n"));
        QVERIFY(noTabs.start());
        QCOMPARE(addressesShown(noTabs), QString());
        for (const char* name : {"cbReadAllRegs", "cbWriteAllRegs", "cbReadRegs", "cbWriteRegs"})
            QVERIFY(noTabs.find<QPushButton>(name)->isHidden() &&
                    !noTabs.find<QPushButton>(name)->isEnabled());
    }

    void readAndEditsShowInEveryViewWithExactColoursAndTabsTheirPanels() {
        WindowRig rig;
        QVERIFY(rig.start());
        rig.sim.chip(rig.sim.heldDevice()).write(5, 0xA5);
        rig.find<QPushButton>(QStringLiteral("cbRead_0"))->click();
        checkViews(rig, 0, 5, QStringLiteral("A5"), 0xA5);
        auto* box = rig.window->panel(0).hexText();
        QCOMPARE(box->cursorPosition(), 0);
        // Each bit as captioned and coloured, bit 7 first; the colour off the caption, inside the border.
        QString bits;
        for (int b = 7; b >= 0; --b) {
            auto* bit = rig.find<QPushButton>(QStringLiteral("cbRegToggleBit_%1").arg(b));
            const QRgb colour = bit->grab().toImage().pixel(3, bit->height() / 2) & 0xFFFFFF;
            bits += QStringLiteral("%1:%2 ").arg(bit->text()).arg(colour, 6, 16, QLatin1Char('0'));
        }
        QCOMPARE(bits, "1:00ff00 0:7f7f7f 1:00ff00 0:7f7f7f 0:7f7f7f 1:00ff00 0:7f7f7f 1:00ff00 ");
        // Each view brings the others and the table in line; none talks to the chip. The key rules themselves
        // are PanelWidgetsTest's: here, that typed keys reach them, even a Backspace that deletes nothing.
        rig.recorded.transfers.clear();
        rig.find<QPushButton>(QStringLiteral("cbRegToggleBit_7"))->click();
        checkViews(rig, 0, 5, QStringLiteral("25"), 0x25);
        box->applyState({QStringLiteral("42"), 0, 0}); // the text alone says 42
        QTest::keyClick(box, Qt::Key_Backspace);
        checkViews(rig, 0, 5, QStringLiteral("42"), 0x42);
        // A lone digit stays as typed: the panel's own move of the up-down never passes for the user's.
        box->selectAll();
        QTest::keyClick(box, Qt::Key_7);
        checkViews(rig, 0, 5, QStringLiteral("7"), 7);
        QTest::keyClicks(box, QStringLiteral("eg"));
        checkViews(rig, 0, 5, QStringLiteral("7E"), 0x7E);
        auto* up = rig.window->panel(0).upDown()->findChild<QToolButton*>(QStringLiteral("up"));
        up->click();
        checkViews(rig, 0, 5, QStringLiteral("7F"), 0x7F);
        QTest::keyClick(box, Qt::Key_F); // the up-down put the caret first
        up->click();                     // and stops at FF
        checkViews(rig, 0, 5, QStringLiteral("FF"), 0xFF);
        // Register 5 sits on two tabs: an edit on one shows on the other.
        auto* tabs = rig.find<QTabWidget>(QStringLiteral("TabStrip1"));
        tabs->setCurrentIndex(1);
        rig.window->panel(3).upDown()->setValue(0x21);
        tabs->setCurrentIndex(0);
        checkViews(rig, 0, 5, QStringLiteral("21"), 0x21);
        QVERIFY(rig.recorded.transfers.empty());
        // Each tab shows the panels of its registers.
        const std::pair<int, QString> shown[] = {
            {0, "@05 @10 @3A "}, {1, "@00 @0A @FF @05 @20 @21 "}, {2, "@40 "}};
        for (const auto& [tab, addresses] : shown) {
            tabs->setCurrentIndex(tab);
            QCOMPARE(addressesShown(rig), addresses);
        }
    }

    void missingAndUnreadableMapShowTheirBox() {
        QStringList boxes; // each answered at once, so that none can hang the test
        QTimer closer;
        closer.callOnTimeout([&boxes] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                boxes << box->windowTitle() + '|' + box->text() +
                             QStringLiteral("|%1 icon|%2 button").arg(box->icon()).arg(box->buttons().size());
                box->done(QMessageBox::Ok);
            }
        });
        closer.start(10);
        // A map given with --map replaces tabdefs.csv.
        for (const QString& chosen : {QString(), QStringLiteral("my-chip.csv")})
            for (const bool asDirectory : {false, true}) {
                boxes.clear();
                WindowRig rig{chosen.isEmpty() ? QByteArray() : regbench::tests::testMap()};
                const QString name = chosen.isEmpty() ? QStringLiteral("tabdefs.csv") : chosen;
                if (asDirectory)
                    QVERIFY(QDir(rig.dir.path()).mkdir(name));
                QVERIFY(rig.start(chosen.isEmpty() ? QStringList()
                                                   : QStringList{"--map", rig.dir.filePath(name)}));
                QCOMPARE(boxes, QStringList{"regbench|Configuration file (" + name + ") " +
                                            (asDirectory ? "could not be read." : "not found.") +
                                            "|0 icon|1 button"});
                // The window opens with its placeholders.
                QCOMPARE(rig.window->windowTitle(), "Defined in tabdefs.csv: TITLEBAR");
                QCOMPARE(rig.find<QLabel>("lblQXVDevice")->text(), "Defined in tabdefs.csv: TITLE");
                QCOMPARE(addressesShown(rig), QStringLiteral("@XX ").repeated(6));
                QCOMPARE(rig.find<QLabel>("lblBitName_47")->text(), "BITNAME");
            }
    }

    // The chip's address from the map's I2CADDR, or from --address over it: every request names it, the
    // simulated chip sits there, and the start-up says so after its own lines.
    void chipAtTheChosenAddress_data() {
        QTest::addColumn<AddressRow>("row");
        const QString at48 = QStringLiteral("Chip at I2C address 0x48");
        QTest::newRow("from the map") << AddressRow{"I2CADDR, &H48\r\n", {}, '\x91', at48};
        QTest::newRow("from --address") << AddressRow{{}, {"--address", "72"}, '\x91', at48};
        QTest::newRow("--address over the map")
            << AddressRow{"I2CADDR,0x48\r\n", {"--address", "0x1C"}, '\x39', {}};
        const QString ignored =
            "I2CADDR record on line 1 ignored: \"0x7F\" is not an I2C address from 0x08 to 0x77";
        QTest::newRow("record ignored") << AddressRow{"I2CADDR,0x7F\r\n", {}, '\x39', ignored};
    }
    void chipAtTheChosenAddress() {
        QFETCH(AddressRow, row);
        const auto& [record, arguments, addressByte, said] = row;
        WindowRig rig{QByteArray()};
        QFile map(rig.dir.filePath(QStringLiteral("chip.csv")));
        QVERIFY(map.open(QIODevice::WriteOnly) && map.write(record + regbench::tests::testMap()) > 0);
        map.close();
        QVERIFY(rig.start(arguments + QStringList{"--map", map.fileName()}));
        const QStringList startUp{"USB-to-I2C driver initialization successful.",
                                  "USB-to-I2C interface detected."};
        QCOMPARE(rig.logLines(), startUp + QStringList(!said.isEmpty(), said));
        rig.recorded.transfers.clear();
        rig.window->cbRead_Click(0);
        QCOMPARE(rig.recorded.transfers.front().out, QByteArray("\x01") + addressByte + '\x05');
        QCOMPARE(rig.logLines().last(), QStringLiteral("Reading register 0x05 = 0x00 successful"));
    }

    void waitsLetEventsRunNestAsOneAndHoldInputInOrder() {
        WindowRig rig;
        QVERIFY(rig.start());
        QElapsedTimer clock;
        clock.start();
        bool ran = false;
        QTimer::singleShot(0, rig.window.get(), [&] { ran = true; });
        rig.window->Pause(10);
        QVERIFY(clock.elapsed() >= 10 && ran); // events ran during the wait
        // A pause inside a pause restarts the shared timer: its tick ends both.
        clock.restart();
        QTimer::singleShot(5, rig.window.get(), [&] { rig.window->Pause(20); });
        rig.window->Pause(5000);
        QVERIFY(clock.elapsed() < 4000);
        // A tick queued while the loop was busy, and seen by it, is void once the pause's timer restarts: the
        // pause lasts the new interval from the restart, whenever the loop hands that tick's wake-up on.
        auto* timer1 = rig.find<regbench::common::PreciseTimer>(QStringLiteral("Timer1"));
        QElapsedTimer restart;
        QTimer::singleShot(0, rig.window.get(), [&] {
            QThread::msleep(10); // the 5 ms tick is queued now, and comes to light with the restart below
            QMetaObject::invokeMethod(
                rig.window.get(), [&] { restart.start(), timer1->setInterval(100); }, Qt::QueuedConnection);
        });
        rig.window->Pause(5);
        QVERIFY(!restart.isValid() || restart.elapsed() >= 100);
        // A bridge that keeps its reply: events go on meanwhile (the timer below runs); whatever asks for an
        // access during the wait (a screen reader's press, then a click) runs after it, in the order asked.
        rig.window->cmdClearLog_Click();
        rig.recorded.transfers.clear();
        rig.sim.setDropReplies(true);
        rig.recorded.timeoutCapMs = 600;
        auto* write = rig.find<QPushButton>(QStringLiteral("cbWrite_1"));
        QAccessibleInterface* pressable = QAccessible::queryAccessibleInterface(write);
        QTimer::singleShot(50, rig.window.get(), [&] {
            pressable->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        });
        const auto duringTheWait = [&] {
            QTest::mouseClick(rig.find<QPushButton>(QStringLiteral("cbRead_2")), Qt::LeftButton);
            QCOMPARE(rig.recorded.transfers.size(), std::size_t{1}); // only the first request went out
            QAccessible::queryAccessibleInterface(rig.find<QWidget>(QStringLiteral("cbRegToggleBit_7")))
                ->actionInterface()
                ->doAction(QAccessibleActionInterface::toggleAction()); // after the read
            rig.sim.setDropReplies(false);                              // the held reply comes now
        };
        QObject::connect(write, &QPushButton::clicked, rig.window.get(), duringTheWait,
                         Qt::SingleShotConnection);
        QTest::mouseClick(rig.find<QPushButton>(QStringLiteral("cbRead_0")), Qt::LeftButton);
        QTRY_COMPARE(rig.logLines(), (QStringList{"Reading register 0x05 = 0x00 successful",
                                                  "Writing register 0x10 = 0x00 successful",
                                                  "Reading register 0x3A = 0x00 successful"}));
        QCOMPARE(rig.window->panel(0).hexText()->text(), QStringLiteral("80"));
    }

    // Quit ends the start-up wait (0), a pause between registers during Write All (1) or a transfer never
    // answered (2, held 30 s): nothing more goes out, a click held back meanwhile never runs, nothing more is
    // logged, and the connection closes once.
    void quitEndsWhateverWaits() {
        for (const int wait : {0, 1, 2}) {
            WindowRig rig;
            if (wait > 0)
                QVERIFY(rig.start());
            rig.sim.setDropReplies(wait == 2);
            rig.recorded.timeoutCapMs = -1;
            rig.recorded.transfers.clear();
            std::size_t sentAtQuit = 0;
            QString logAtQuit;
            QTimer::singleShot(wait == 0 ? 200 : 25, [&] {
                if (wait == 2)
                    QTest::mouseClick(rig.find<QPushButton>(QStringLiteral("cbRead_1")), Qt::LeftButton);
                sentAtQuit = rig.recorded.transfers.size();
                logAtQuit = rig.log();
                QTest::mouseClick(rig.find<QPushButton>(QStringLiteral("cbQuit")), Qt::LeftButton);
            });
            const QDeadlineTimer endedByQuit(900); // before the start-up's 1 s or the transfer's 30 s end
            if (wait == 0)
                QVERIFY(rig.start());
            else
                wait == 1 ? rig.window->cbWriteAllRegs_Click() : rig.window->cbRead_Click(0);
            QVERIFY(!endedByQuit.hasExpired());
            QVERIFY((wait == 0 || sentAtQuit > 0) && rig.window->isUnloaded() && !rig.window->isVisible());
            QCoreApplication::processEvents();
            QCOMPARE(rig.recorded.transfers.size(), sentAtQuit + (wait == 2)); // the held read's record
            QCOMPARE(rig.log(), logAtQuit);
            rig.window.reset();
            QCOMPARE(rig.recorded.uninitCalls, 1u);
        }
    }
};

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
