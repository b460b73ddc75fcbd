// How messages become lines in the log, that the newest one is drawn in view, and that the user can select
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
    // An empty text is an empty line, CR LF inside a message makes several lines, a line may come in several
    // writes, and after Clear Log the next message starts at the first line. Assistive technology sees the
    // text, selection and caret, counting UTF-16 units over the whole transcript, a break as one.
    void messagesBecomeLinesThatAssistiveTechnologyCounts() {
        ActivityLog log;
        log.LogLine(QStringLiteral("old"));
        log.clearLog();
        log.LogText(u"\u00e9"_qs, {});
        for (const QString& text :
             {u"\u00fc"_qs, QString(), u"\u00b5s \u20ac\r\n\r\nx\r\n\U0001F525y\r\nz"_qs})
            log.LogLine(text);
        const QString all = u"\u00e9\u00fc\n\n\u00b5s \u20ac\n\nx\n\U0001F525y\nz\n"_qs;
        QCOMPARE(log.text(), QString(all).replace(u'\n', u"\r\n"_qs));
        QCOMPARE(log.lines().lineCount(), 8); // and the empty line after the last break
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&log);
        QAccessibleTextInterface* text = accessible->textInterface();
        QVERIFY(accessible->state().readOnly);
        QCOMPARE(text->characterCount(), all.size());
        for (int offset = 0; offset <= all.size(); ++offset) {
            text->setSelection(0, 0, offset);
            int start = 0, end = 0;
            text->selection(0, &start, &end);
            QCOMPARE(end, offset);
            QCOMPARE(log.selectedText(), all.left(offset));
            QCOMPARE(text->text(offset, all.size()), all.mid(offset));
        }
        log.LogText(QStringLiteral("\u00e9"), QString());
        log.LogText(QStringLiteral("\U0001F525"), QString());
        QCOMPARE(text->cursorPosition(), all.size() + 3); // the caret after the last character
    }

    // Before each write the user scrolls up, selects across lines forwards or backwards, by mouse or keys,
    // and copies the same text every way. The write drops the selection and draws the newest text whole at
    // the foot of the view, where a log holding it alone below blank lines draws it: after lines wrapped by
    // length, script or tabs, as a line written in parts wraps, and once the log has narrowed.
    void writeDropsSelectionAndDrawsNewestLine() {
        ActivityLog log;
        log.setFocusPolicy(Qt::NoFocus); // no caret drawn
        log.resize(300, 100);
        log.show();
        const QString kinds[] = {QStringLiteral("line %1 "), QStringLiteral("line %1 ").repeated(12),
                                 QStringLiteral("\u00b5\u20ac\u00e9 %1 ").repeated(12),
                                 QStringLiteral("\u0645\u0631\u062d\u0628\u0627 %1 ").repeated(6),
                                 QStringLiteral("\t\t\t\tline %1")};
        for (int i = 0; i < 200; ++i)
            log.LogLine(kinds[i % 5].arg(i));
        const std::tuple<QString, QString, int, Position, Position, QList<Qt::Key>> writes[] = {
            {u"begin "_qs, {}, 300, {0, 2}, {2, 3}, {}},
            {u"more "_qs.repeated(12), {}, 300, {2, 3}, {0, 2}, {}},
            {u"more "_qs.repeated(12), {}, 300, {0, 2}, {0, 2}, {Qt::Key_Down, Qt::Key_Down, Qt::Key_Right}},
            {{}, u"\r\n"_qs, 200, {2, 3}, {2, 3}, {Qt::Key_Up, Qt::Key_Up, Qt::Key_Left}}};
        QString line;
        for (const auto& [part, suffix, width, from, to, keys] : writes) {
            QTest::qWait(ActivityLog::FrameMs * 2); // a frame on, the scroll bar is at the end
            QCOMPARE(log.verticalScrollBar()->value(), log.verticalScrollBar()->maximum());
            log.verticalScrollBar()->setValue(0);
            QTest::mousePress(log.viewport(), Qt::LeftButton, {}, log.cursorRect(from).center());
            QTest::mouseMove(log.viewport(), log.cursorRect(to).center());
            QTest::mouseRelease(log.viewport(), Qt::LeftButton, {}, log.cursorRect(to).center());
            for (const Qt::Key key : keys)
                QTest::keyClick(&log, key, Qt::ShiftModifier);
            QApplication::clipboard()->clear();
            QTest::keyClick(&log, Qt::Key_C, Qt::ControlModifier);
            QCOMPARE(QApplication::clipboard()->text(),
                     kinds[0].arg(0).mid(2) + u'\n' + kinds[1].arg(1) + u'\n' + kinds[2].arg(2).left(3));
            log.LogText(part, suffix);
            QTest::keyClicks(&log, QStringLiteral("typed\b")); // typing, if taken, would show at the end
            QVERIFY(!log.hasSelection() && log.cursorPosition() == log.endPosition());
            log.resize(width, 100);
            ActivityLog alone;
            alone.setFocusPolicy(Qt::NoFocus);
            alone.resize(log.size());
            alone.show();
            alone.LogText(u"\r\n"_qs.repeated(50) + (line += part), suffix);
            const QImage expected = alone.viewport()->grab().toImage();
            std::vector<int> inked;
            for (int y = 0; y < expected.height(); ++y)
                if (expected.copy(0, y, expected.width(), 1) != expected.copy(0, 0, expected.width(), 1))
                    inked.push_back(y);
            QVERIFY(!inked.empty() && inked.back() < expected.height() - alone.cursorRect({}).top());
            const QRect foot(QPoint(0, inked.front()), expected.rect().bottomRight());
            QCOMPARE(log.viewport()->grab().toImage().copy(foot), expected.copy(foot));
        }
        QTest::keyClick(&log, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(log.selectedText(), log.text().replace(u"\r\n"_qs, u"\n"_qs));
        QTest::mouseDClick(log.viewport(), Qt::LeftButton, {}, log.cursorRect({200, 8}).center());
        QCOMPARE(log.selectedText(), QStringLiteral("more"));
    }
};

QTEST_MAIN(ActivityLogTest)
#include "ActivityLogTest.moc"
