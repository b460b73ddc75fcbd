// How messages become lines in the log, and that the newest one stays in view.
#include "app/ActivityLog.h"

#include <QScrollBar>
#include <QTest>
#include <QTextBlock>

using regbench::app::ActivityLog;

class ActivityLogTest : public QObject {
    Q_OBJECT
private slots:
    void messagesBecomeLines_data() {
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QString>("content");
        QTest::addColumn<int>("lines");
        QTest::newRow("one") << QStringList{"Searching..."} << QStringLiteral("Searching...\r\n") << 1;
        QTest::newRow("empty text is one empty line")
            << QStringList{"a", "", "b"} << QStringLiteral("a\r\n\r\nb\r\n") << 3;
        QTest::newRow("CR LF inside a message")
            << QStringList{"first\r\nsecond"} << QStringLiteral("first\r\nsecond\r\n") << 2;
    }
    void messagesBecomeLines() {
        QFETCH(QStringList, messages);
        QFETCH(QString, content);
        QFETCH(int, lines);
        ActivityLog log;
        for (const QString& message : messages) {
            log.LogLine(message);
        }
        QCOMPARE(log.text(), content);
        // The document ends with the empty block after the last line break.
        QCOMPARE(log.document()->blockCount(), lines + 1);
    }

    void logTextWithSuffixEqualsLogLine() {
        ActivityLog a;
        ActivityLog b;
        a.LogText(QStringLiteral("x"), QStringLiteral("\r\n"));
        b.LogLine(QStringLiteral("x"));
        QCOMPARE(a.text(), b.text());
    }

    void userCannotTypeButCanSelect() {
        ActivityLog log;
        log.LogLine(QStringLiteral("line"));
        QVERIFY(log.isReadOnly());
        QTest::keyClicks(&log, QStringLiteral("typed"));
        QCOMPARE(log.text(), QStringLiteral("line\r\n"));
        QVERIFY(log.textInteractionFlags() & Qt::TextSelectableByMouse);
    }

    void writeDropsSelectionAndShowsNewestLine() {
        ActivityLog log;
        log.resize(300, 100);
        log.show();
        for (int i = 0; i < 200; ++i) {
            log.LogLine(QStringLiteral("line %1").arg(i));
        }
        // The user scrolls up and selects something; the next message still comes into view.
        log.verticalScrollBar()->setValue(0);
        QTextCursor selection(log.document());
        selection.movePosition(QTextCursor::Down, QTextCursor::KeepAnchor, 3);
        log.setTextCursor(selection);
        log.LogLine(QStringLiteral("newest"));
        QVERIFY(!log.textCursor().hasSelection());
        QCOMPARE(log.textCursor().position(), log.document()->characterCount() - 1);
        const QRect newest = log.cursorRect(log.document()->find(QStringLiteral("newest")));
        QVERIFY(log.viewport()->rect().contains(newest));
    }

    void clearEmptiesTheLog() {
        ActivityLog log;
        log.LogLine(QStringLiteral("old"));
        log.clearLog();
        QCOMPARE(log.text(), QString());
        log.LogLine(QStringLiteral("new"));
        QCOMPARE(log.text(), QStringLiteral("new\r\n"));
    }
};

QTEST_MAIN(ActivityLogTest)
#include "ActivityLogTest.moc"
