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
            {{"first\r\nsecond"}, "first\r\nsecond\r\n", 2}};
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

    // Assistive technology sees the log's text, selection and caret, counting UTF-16 units over the whole
    // transcript, a break as one, whatever the lines hold; a line may come in several writes.
    void assistiveTechnologyCountsCharacters() {
        ActivityLog log;
        QString all;
        for (const QString& text :
             {u"\u00e9"_qs, u"\u00fc\r\n"_qs, u"\u00b5s \u20ac\r\n\r\nx\r\n\U0001F525y\r\nz\r\n"_qs}) {
            log.LogText(text, QString());
            all += QString(text).replace(u"\r\n"_qs, u"\n"_qs);
        }
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&log);
        QAccessibleTextInterface* text = accessible->textInterface();
        QVERIFY(accessible->state().readOnly);
        QCOMPARE(text->characterCount(), all.size());
        for (int offset = 0; offset <= all.size(); ++offset) {
            text->setSelection(0, 0, offset);
            int start = 0;
            int end = 0;
            text->selection(0, &start, &end);
            QCOMPARE(end, offset);
            QCOMPARE(log.selectedText(), all.left(offset));
            QCOMPARE(text->text(offset, all.size()), all.mid(offset));
        }
        log.LogText(QStringLiteral("\u00e9"), QString());
        log.LogText(QStringLiteral("\U0001F525"), QString());
        QCOMPARE(text->cursorPosition(), all.size() + 3); // the caret after the last character
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
    }

    void writeDropsSelectionAndShowsNewestLine() {
        ActivityLog log;
        log.resize(300, 100);
        log.show();
        QVERIFY(QTest::qWaitForWindowExposed(&log));
        // Some wrap: by their length, in scripts that are summed or laid out, or by their tabs.
        const QString kinds[] = {QStringLiteral("line %1 "), QStringLiteral("line %1 ").repeated(12),
                                 QStringLiteral("\u00b5\u20ac\u00e9 %1 ").repeated(12),
                                 QStringLiteral("\u0645\u0631\u062d\u0628\u0627 %1 ").repeated(6),
                                 QStringLiteral("\t\t\t\tline %1")};
        for (int i = 0; i < 200; ++i)
            log.LogLine(kinds[i % 5].arg(i));
        QTest::qWait(ActivityLog::FrameMs * 2);
        for (qint64 line = 0; line < 200; ++line) // the rows counted for a line are the rows it takes
            QCOMPARE(log.cursorRect({line + 1, 0}).top(),
                     log.cursorRect({line, log.lines().lineLength(line)}).bottom() + 1);
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
