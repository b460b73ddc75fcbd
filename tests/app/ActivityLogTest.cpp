// How messages become lines in the log, that the newest one stays in view, and that the user can select
// across lines and copy, by mouse, keyboard and assistive technology, but never type.
#include "app/ActivityLog.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QTest>

using regbench::app::ActivityLog;
using Position = ActivityLog::Position;

class ActivityLogTest : public QObject {
    Q_OBJECT
private slots:
    // One message a line, an empty text one empty line, CR LF inside a message several lines. Clear Log
    // empties, and the next message starts at the first line.
    void messagesBecomeLines() {
        const std::tuple<QStringList, QString, int> cases[] = {
            {{"Searching..."}, "Searching...\r\n", 1},
            {{"a", "", "b"}, "a\r\n\r\nb\r\n", 3},
            {{"first\r\nsecond"}, "first\r\nsecond\r\n", 2},
            {{"\u00b5s \u20ac"}, "\u00b5s \u20ac\r\n", 1}};
        for (const auto& [messages, content, lines] : cases) {
            ActivityLog log;
            log.LogLine(QStringLiteral("old"));
            log.clearLog();
            QCOMPARE(log.text(), QString());
            for (const QString& message : messages)
                log.LogLine(message);
            QCOMPARE(log.text(), content);
            QCOMPARE(log.lines().lineCount(), lines + 1); // and the empty line after the last break
        }
    }

    void userSelectsAcrossLinesAndCopiesButCannotType() {
        ActivityLog log;
        log.resize(300, 100);
        log.show();
        QVERIFY(QTest::qWaitForWindowExposed(&log));
        for (const char* line : {"alpha line", "bravo line", "charlie line"})
            log.LogLine(QString::fromLatin1(line));
        QTest::qWait(ActivityLog::FrameMs * 2);
        const QPoint from = log.cursorRect({0, 2}).center();
        const QPoint to = log.cursorRect({2, 6}).center();
        QTest::mousePress(log.viewport(), Qt::LeftButton, {}, from);
        QTest::mouseMove(log.viewport(), to);
        QTest::mouseRelease(log.viewport(), Qt::LeftButton, {}, to);
        QCOMPARE(log.selectedText(), QStringLiteral("pha line\nbravo line\ncharli"));
        QTest::keyClick(&log, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("pha line\nbravo line\ncharli"));
        QTest::keyClick(&log, Qt::Key_Left, Qt::ShiftModifier);
        QCOMPARE(log.selectedText(), QStringLiteral("pha line\nbravo line\ncharl"));
        QTest::keyClicks(&log, QStringLiteral("typed"));
        QTest::keyClick(&log, Qt::Key_Backspace);
        QCOMPARE(log.text(), QStringLiteral("alpha line\r\nbravo line\r\ncharlie line\r\n"));
        QTest::keyClick(&log, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(log.selectedText(), QStringLiteral("alpha line\nbravo line\ncharlie line\n"));
        QTest::mouseDClick(log.viewport(), Qt::LeftButton, {}, log.cursorRect({1, 2}).center());
        QCOMPARE(log.selectedText(), QStringLiteral("bravo"));

        // Assistive technology sees the same text, selection and caret.
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&log);
        QAccessibleTextInterface* text = accessible->textInterface();
        QVERIFY(text != nullptr && accessible->state().readOnly);
        QCOMPARE(text->characterCount(), 35);
        int start = 0;
        int end = 0;
        text->selection(0, &start, &end);
        QCOMPARE(text->text(start, end), QStringLiteral("bravo"));
        text->setSelection(0, 6, 17);
        QCOMPARE(log.selectedText(), QStringLiteral("line\nbravo "));
    }

    void writeDropsSelectionAndShowsNewestLine() {
        ActivityLog log;
        log.resize(300, 100);
        log.show();
        QVERIFY(QTest::qWaitForWindowExposed(&log));
        for (int i = 0; i < 200; ++i) // some long enough to wrap
            log.LogLine(QStringLiteral("line %1 ").arg(i).repeated(i % 7 == 0 ? 12 : 1));
        QTest::qWait(ActivityLog::FrameMs * 2);
        // The user scrolls up and selects something; the next message still comes into view.
        log.verticalScrollBar()->setValue(0);
        QCOMPARE(log.firstVisibleLine(), 0);
        log.setSelection({1, 0}, {3, 2});
        log.LogLine(QStringLiteral("newest"));
        QVERIFY(!log.hasSelection());
        QCOMPARE(log.cursorPosition(), log.endPosition());
        QCOMPARE(log.lastVisibleLine(), log.lines().lineCount() - 1);
        QTest::qWait(ActivityLog::FrameMs * 2);
        QVERIFY(log.viewport()->rect().contains(log.cursorRect({200, 0})));
        QCOMPARE(log.verticalScrollBar()->value(), log.verticalScrollBar()->maximum());
    }
};

QTEST_MAIN(ActivityLogTest)
#include "ActivityLogTest.moc"
