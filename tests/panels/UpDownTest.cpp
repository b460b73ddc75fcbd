// The arrows step without wrapping, setValue() clamps, and changed() comes only on a real change.
#include "panels/UpDown.h"

#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <climits>

using regbench::panels::UpDown;

class UpDownTest : public QObject {
    Q_OBJECT
private slots:
    // arrow is "up", "down" or empty for a setValue(clicks) call. The spy is read before any event loop runs,
    // so only a changed() sent from inside the call counts: the callers' guard flags rely on that.
    void stepsClampAndReportRealChanges_data() {
        QTest::addColumn<int>("start");
        QTest::addColumn<QString>("arrow");
        QTest::addColumn<int>("clicks");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("changes");
        QTest::newRow("up from 0x0F") << 0x0F << "up" << 1 << 0x10 << 1;
        QTest::newRow("down twice") << 5 << "down" << 2 << 3 << 2;
        QTest::newRow("up stops at 255") << 254 << "up" << 3 << 255 << 1;
        QTest::newRow("down stops at 0") << 1 << "down" << 3 << 0 << 1;
        QTest::newRow("set inside") << 0 << "" << 165 << 165 << 1;
        QTest::newRow("set same") << 165 << "" << 165 << 165 << 0;
        QTest::newRow("set above") << 0 << "" << 300 << 255 << 1;
        QTest::newRow("set above at max") << 255 << "" << INT_MAX << 255 << 0;
        QTest::newRow("set below") << 9 << "" << INT_MIN << 0 << 1;
    }
    void stepsClampAndReportRealChanges() {
        QFETCH(int, start);
        QFETCH(QString, arrow);
        QFETCH(int, clicks);
        QFETCH(int, value);
        QFETCH(int, changes);
        UpDown updown;
        updown.setValue(start);
        QSignalSpy changed(&updown, &UpDown::changed);
        if (arrow.isEmpty())
            updown.setValue(clicks);
        for (int i = 0; !arrow.isEmpty() && i < clicks; ++i)
            updown.findChild<QToolButton*>(arrow)->click();
        QCOMPARE(updown.value(), value);
        QCOMPARE(changed.count(), changes);
    }
};

QTEST_MAIN(UpDownTest)
#include "UpDownTest.moc"
