// Watching registers in the window on the simulated bridge: how a watch opens, what it logs and keeps, its
// gaps, Save, and closing it or the program while a sample waits.
#include "support/WindowRig.h"

#include "app/WatchRecord.h"
#include "app/WatchTraces.h"
#include "app/WatchWindow.h"
#include "panels/HexLineEdit.h"
#include "panels/RegisterPanel.h"

#include <QAccessible>
#include <QApplication>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QTimer>

using regbench::app::WatchWindow;
using regbench::tests::WindowRig;

namespace {

WatchWindow* watchByAccessibleAction(WindowRig& rig, int panel) {
    QAccessibleInterface* group = QAccessible::queryAccessibleInterface(&rig.window->panel(panel));
    if (!group || !group->actionInterface() || !group->actionInterface()->actionNames().contains("Watch"))
        return nullptr;
    group->actionInterface()->doAction("Watch");
    const auto watches = rig.window->watches();
    return watches.empty() ? nullptr : watches.back();
}

// Picks a menu entry the way a user would, once the panel's context menu is up.
void chooseFromPanelMenu(WindowRig& rig, int panel, const QString& entry) {
    QTimer::singleShot(50, [entry] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QVERIFY(menu);
        for (QAction* action : menu->actions())
            if (action->text() == entry)
                action->trigger();
        menu->close();
    });
    QWidget* field = rig.window->panel(panel).hexText();
    QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(5, 5), field->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(field, &event);
}

} // namespace

class WatchWindowTest : public QObject {
    Q_OBJECT
private slots:
    // Opened by a screen reader's action or the menu key, more registers added from a panel's menu; samples
    // at the interval, two lines in the log in all, and neither RegValues nor an edit in a panel touched.
    void openedFromPanelsSamplingLeavesPanelsAlone() {
        WindowRig rig;
        QVERIFY(rig.start());
        rig.sim.chip(rig.sim.heldDevice()).write(5, 0xA0);
        rig.window->panel(0).typeKey(Qt::Key_5); // an edit not written yet
        const QString edited = rig.window->panel(0).hexText()->text();
        rig.window->cmdClearLog_Click();
        WatchWindow* watch = watchByAccessibleAction(rig, 0);
        QVERIFY(watch && watch->isVisible());
        chooseFromPanelMenu(rig, 1, "Add to Watch: ALPHA (0x05)");
        QCOMPARE(watch->windowTitle(), "Watch: ALPHA (0x05), BETA (0x10)");
        rig.recorded.transfers.clear();
        const qint64 before = watch->sampler().samples();
        QTest::qWait(1050);
        const qint64 samples = watch->sampler().samples() - before;
        QVERIFY2(samples >= 9 && samples <= 12, qPrintable(QString::number(samples)));
        QCOMPARE(qint64(rig.recorded.transfers.size()), 4 * samples); // two registers, request and reply each
        QCOMPARE(watch->findChild<QLabel*>("lblWatchValue_0")->text(), "ALPHA (0x05) = 0xA0");
        QCOMPARE(rig.window->panel(0).hexText()->text(), edited);
        QCOMPARE(rig.window->registerMap().RegValues[5], 0);
        watch->close();
        QCOMPARE(rig.logLines(),
                 (QStringList{"Watch started: ALPHA (0x05) every 100 ms",
                              QString("Watch stopped: ALPHA (0x05), BETA (0x10) after %1 samples")
                                  .arg(watch->sampler().samples())}));
    }

    // A run of failed reads is a gap in the trace and one line in the log, then one when reads come back;
    // Save writes what was drawn, the gap as empty fields.
    void failedReadsLeaveAGapAndOneLineARun() {
        WindowRig rig;
        QVERIFY(rig.start());
        WatchWindow* watch = rig.window->openWatch(0);
        watch->sampler().setInterval(10);
        QTest::qWait(60);
        rig.sim.setReplyStatus(0x40);
        QTest::qWait(60);
        rig.sim.setReplyStatus(std::nullopt);
        QTest::qWait(60);
        const QStringList lines = rig.logLines().filter("register 0x05");
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], "Reading register 0x05 failed: No ACK from slave. Check power and connections.");
        QVERIFY(lines[1].startsWith("Reading register 0x05 successful again after "));
        const regbench::app::WatchRecord& record = watch->record();
        const auto segments = regbench::app::WatchTraces::segments(
            record, 0, 0, record.time(record.size() - 1), 1, regbench::app::WatchTraces::Lane{});
        QCOMPARE(segments.size(), 2u);
        QCOMPARE(segments[0].size(), 2); // a level run keeps its two ends
        QTemporaryDir dir;
        QVERIFY(watch->saveTo(dir.filePath("w.csv")));
        QFile saved(dir.filePath("w.csv"));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(saved.readAll());
        QCOMPARE(text, record.csv(rig.window->registerMap()));
        QVERIFY(text.startsWith("time_ms,ALPHA\n0,0x00\n") && text.contains(QRegularExpression("\n\\d+,\n")));
    }

    // Closing a watch whose sample waits for its reply stops it and deletes it only once the wait is over;
    // Quit during such a sample ends the wait at once, as it ends a Read's.
    void closingWhileASampleWaits() {
        WindowRig rig;
        QVERIFY(rig.start());
        rig.recorded.timeoutCapMs = -1;
        QPointer<WatchWindow> watch = rig.window->openWatch(0);
        rig.sim.setDropReplies(true);
        bool deletedInWait = true;
        QTimer::singleShot(150, [&] {
            QVERIFY(rig.sim.transferWaiting());
            watch->close();
            QTimer::singleShot(20, [&] {
                deletedInWait = watch.isNull();
                rig.sim.setDropReplies(false);
            });
        });
        QTRY_VERIFY(watch.isNull());
        QVERIFY(!deletedInWait);

        watch = rig.window->openWatch(1);
        rig.sim.setDropReplies(true);
        QElapsedTimer sinceQuit;
        QTimer::singleShot(150, [&] {
            QVERIFY(rig.sim.transferWaiting());
            sinceQuit.start();
            rig.window->cbQuit_Click();
        });
        QTRY_VERIFY_WITH_TIMEOUT(rig.window->isUnloaded(), 2000);
        QVERIFY(sinceQuit.elapsed() < 1000 && !rig.sim.transferWaiting() && !watch->isVisible());
    }
};

QTEST_MAIN(WatchWindowTest)
#include "WatchWindowTest.moc"
