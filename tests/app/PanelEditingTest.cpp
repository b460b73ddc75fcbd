// Editing a value through its three views in the window: each path brings the other views and the stored
// value in line, and none of them talks to the chip. The typing rules themselves are HexKeyRulesTest's.
#include "support/WindowRig.h"

#include "panels/HexLineEdit.h"
#include "panels/RegisterPanel.h"
#include "panels/UpDown.h"

#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>

using regbench::tests::WindowRig;

namespace {

// The text, then the value that the table, the up-down and the bit buttons must all agree on.
void checkViews(const WindowRig& rig, int panel, int address, const QString& text, int value) {
    const regbench::panels::RegisterPanel& shown = rig.window->panel(panel);
    QCOMPARE(shown.hexText()->text(), text);
    QCOMPARE(shown.bitsValue(), value);
    QCOMPARE(shown.upDownValue(), value);
    QCOMPARE(rig.value(address), value);
    QVERIFY(!rig.window->panelUpdating());
}

} // namespace

class PanelEditingTest : public QObject {
    Q_OBJECT
private slots:
    void init() { QVERIFY(rig_.start()); }
    void cleanup() {
        QVERIFY(rig_.sim.transfers().empty()); // editing never talks to the chip
        rig_.window.reset();
    }

    void bitButtonToggles() {
        rig_.window->panel(0).upDown()->setValue(5);
        auto* bit7 = rig_.find<QPushButton>(QStringLiteral("cbRegToggleBit_7"));
        bit7->click();
        checkViews(rig_, 0, 5, QStringLiteral("85"), 0x85);
        bit7->click();
        checkViews(rig_, 0, 5, QStringLiteral("05"), 5);
    }

    // The key rules are HexKeyRulesTest's; here, that a typed key reaches them and the views follow, even a
    // Backspace that deletes nothing.
    void typedKeysEditTheTextAndTheViewsFollow() {
        auto* box = rig_.window->panel(0).hexText();
        box->applyState({QStringLiteral("42"), 0, 0}); // the text alone says 42
        QTest::keyClick(box, Qt::Key_Backspace);
        checkViews(rig_, 0, 5, QStringLiteral("42"), 0x42);
        box->setCursorPosition(2);
        QTest::keyClicks(box, QStringLiteral("7g"));
        checkViews(rig_, 0, 5, QStringLiteral("27"), 0x27);
        QTest::keyClick(box, Qt::Key_Escape);
        checkViews(rig_, 0, 5, QStringLiteral("00"), 0);
    }

    void upDownArrowAndTabChange() {
        rig_.window->panel(1).upDown()->setValue(0x0F);
        rig_.window->panel(1).upDown()->findChild<QToolButton*>(QStringLiteral("up"))->click();
        checkViews(rig_, 1, 16, QStringLiteral("10"), 0x10);
        // Register 5 sits on both tabs: an edit on one shows on the other.
        auto* tabs = rig_.find<QTabWidget>(QStringLiteral("TabStrip1"));
        tabs->setCurrentIndex(1);
        rig_.window->panel(3).upDown()->setValue(0x21);
        tabs->setCurrentIndex(0);
        checkViews(rig_, 0, 5, QStringLiteral("21"), 0x21);
        checkViews(rig_, 1, 16, QStringLiteral("10"), 0x10);
    }

private:
    WindowRig rig_;
};

QTEST_MAIN(PanelEditingTest)
#include "PanelEditingTest.moc"
