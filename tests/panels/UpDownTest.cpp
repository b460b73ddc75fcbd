// The arrows step without wrapping, setValue() clamps, and changed() comes only on a real change, from inside
// the call that made it: the callers' guard flag relies on that.
#include "panels/UpDown.h"

#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <climits>

using regbench::panels::UpDown;

class UpDownTest : public QObject {
    Q_OBJECT
private slots:
    void stepsClampAndReportRealChanges() {
        // start, "up"/"down" clicked n times or "" for setValue(n), then the value and the changes reported
        const std::tuple<int, const char*, int, int, int> cases[] = {
            {0x0F, "up", 1, 0x10, 1}, {5, "down", 2, 3, 2},       {254, "up", 3, 255, 1},
            {1, "down", 3, 0, 1},     {0, "", 165, 165, 1},       {165, "", 165, 165, 0},
            {0, "", 300, 255, 1},     {255, "", INT_MAX, 255, 0}, {9, "", INT_MIN, 0, 1}};
        for (const auto& [start, arrow, n, value, changes] : cases) {
            UpDown updown;
            updown.setValue(start);
            QSignalSpy changed(&updown, &UpDown::changed);
            if (*arrow == '\0')
                updown.setValue(n);
            for (int i = 0; *arrow != '\0' && i < n; ++i)
                updown.findChild<QToolButton*>(QString::fromLatin1(arrow))->click();
            QCOMPARE(updown.value(), value);
            QCOMPARE(changed.count(), changes);
        }
    }
};

QTEST_MAIN(UpDownTest)
#include "UpDownTest.moc"
