// Editing a value through its three views: each path brings the other views and the stored value in line,
// and none of them talks to the chip.
#include "support/WindowRig.h"

#include "common/HexText.h"
#include "panels/HexLineEdit.h"
#include "panels/RegisterPanel.h"
#include "panels/UpDown.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>

using regbench::tests::WindowRig;

namespace {

// Bits 7 to 0 as the captions read from left to right.
QString bitRow(const WindowRig& rig, int panel) {
    QString row;
    for (int b = 7; b >= 0; --b) {
        row += rig.find<QPushButton>(QStringLiteral("cbRegToggleBit_%1").arg(panel * 8 + b))->text();
    }
    return row;
}

void setText(WindowRig& rig, int panel, const QString& text, int caret, int selection = 0) {
    rig.window->panel(panel).hexText()->applyState({text, caret, selection});
}

void checkAgreement(const WindowRig& rig, int panel, int address, int value) {
    QCOMPARE(rig.value(address), value);
    QCOMPARE(rig.window->panel(panel).upDown()->value(), value);
    QCOMPARE(bitRow(rig, panel), QString::number(value, 2).rightJustified(8, QLatin1Char('0')));
}

} // namespace

class PanelEditingTest : public QObject {
    Q_OBJECT
private slots:
    void bitButtonTogglesAndRefreshes() {
        WindowRig rig;
        rig.start();
        rig.window->panel(0).upDown()->setValue(5);
        auto* bit7 = rig.find<QPushButton>(QStringLiteral("cbRegToggleBit_7"));
        bit7->click();
        QCOMPARE(bit7->text(), QStringLiteral("1"));
        QCOMPARE(rig.find<QLineEdit>(QStringLiteral("tbRegdata_0"))->text(), QStringLiteral("85"));
        checkAgreement(rig, 0, 5, 0x85);
        bit7->click();
        QCOMPARE(rig.find<QLineEdit>(QStringLiteral("tbRegdata_0"))->text(), QStringLiteral("05"));
        checkAgreement(rig, 0, 5, 5);
    }

    void typedKeysEditLikeAnOverwriteField_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("caret");
        QTest::addColumn<int>("selection");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("result");
        QTest::addColumn<int>("value");
        QTest::newRow("append shifts left") << "3C" << 2 << 0 << "7"
                                            << "C7" << 0xC7;
        QTest::newRow("overwrite first, lower case") << "3C" << 0 << 0 << "f"
                                                     << "FC" << 0xFC;
        QTest::newRow("then overwrite second") << "3C" << 0 << 0 << "f1"
                                               << "F1" << 0xF1;
        QTest::newRow("selection replaced by one digit") << "3C" << 0 << 2 << "5"
                                                         << "5" << 5;
        QTest::newRow("lone digit padded at 0") << "5" << 0 << 0 << "A"
                                                << "0A" << 0x0A;
        QTest::newRow("lone digit appended") << "5" << 1 << 0 << "A"
                                             << "5A" << 0x5A;
        QTest::newRow("rejected keys change nothing") << "3C" << 1 << 0 << "Gx \r"
                                                      << "3C" << 0x3C;
    }
    void typedKeysEditLikeAnOverwriteField() {
        QFETCH(QString, text);
        QFETCH(int, caret);
        QFETCH(int, selection);
        QFETCH(QString, keys);
        QFETCH(QString, result);
        QFETCH(int, value);
        WindowRig rig;
        rig.start();
        auto* box = rig.window->panel(0).hexText();
        // All views agree on the starting value, so a rejected key must leave every one of them alone.
        rig.window->panel(0).upDown()->setValue(regbench::common::HexText::value(text));
        setText(rig, 0, text, caret, selection);
        box->setFocus();
        for (const QChar key : keys) {
            if (key == QLatin1Char('\r')) {
                QTest::keyClick(box, Qt::Key_Return);
            } else {
                QTest::keyClicks(box, QString(key));
            }
        }
        QCOMPARE(box->text(), result);
        checkAgreement(rig, 0, 5, value);
        QVERIFY(rig.sim.transfers().empty());
    }

    void backspaceAndEscape() {
        WindowRig rig;
        rig.start();
        auto* box = rig.window->panel(0).hexText();
        setText(rig, 0, QStringLiteral("5A"), 2);
        QTest::keyClick(box, Qt::Key_Backspace);
        QCOMPARE(box->text(), QStringLiteral("5"));
        checkAgreement(rig, 0, 5, 5);
        QTest::keyClick(box, Qt::Key_Backspace);
        QCOMPARE(box->text(), QStringLiteral("0"));
        QCOMPARE(box->cursorPosition(), 1);
        checkAgreement(rig, 0, 5, 0);

        setText(rig, 0, QStringLiteral("E7"), 2);
        QTest::keyClick(box, Qt::Key_Escape);
        QCOMPARE(box->text(), QStringLiteral("00"));
        QCOMPARE(box->cursorPosition(), 1);
        checkAgreement(rig, 0, 5, 0);
    }

    void backspaceAtStartStillRefreshesFromText() {
        WindowRig rig;
        rig.start();
        // The text says 42 but nothing else does yet; a Backspace that deletes nothing brings them in line.
        setText(rig, 0, QStringLiteral("42"), 0);
        QTest::keyClick(rig.window->panel(0).hexText(), Qt::Key_Backspace);
        checkAgreement(rig, 0, 5, 0x42);
    }

    void upDownArrowStepsTheValue() {
        WindowRig rig;
        rig.start();
        rig.window->panel(1).upDown()->setValue(0x0F);
        rig.window->panel(1).upDown()->findChild<QToolButton*>(QStringLiteral("up"))->click();
        QCOMPARE(rig.find<QLineEdit>(QStringLiteral("tbRegdata_1"))->text(), QStringLiteral("10"));
        QCOMPARE(bitRow(rig, 1), QStringLiteral("00010000"));
        QCOMPARE(rig.value(16), 0x10);
    }

    void editedValueSurvivesATabChangeAndFillingSetsNothing() {
        WindowRig rig;
        rig.start();
        auto* tabs = rig.find<QTabWidget>(QStringLiteral("TabStrip1"));
        rig.window->panel(2).upDown()->setValue(0x3D);
        tabs->setCurrentIndex(1);
        // Register 5 sits in slot 3 of this tab and shows the same edited value as on the first.
        rig.window->panel(3).upDown()->setValue(0x21);
        tabs->setCurrentIndex(0);
        QCOMPARE(rig.find<QLineEdit>(QStringLiteral("tbRegdata_2"))->text(), QStringLiteral("3D"));
        QCOMPARE(rig.find<QLineEdit>(QStringLiteral("tbRegdata_0"))->text(), QStringLiteral("21"));
        QCOMPARE(rig.value(0x3A), 0x3D);
        QVERIFY(!rig.window->panelUpdating());
        QVERIFY(rig.sim.transfers().empty());
    }
};

QTEST_MAIN(PanelEditingTest)
#include "PanelEditingTest.moc"
