// The panel's own controls. The hex box never edits itself: typed keys only reach keyPressed(), every other
// way to change the text is blocked, and selecting, copying and Tab still work. The up-down's arrows step
// without wrapping, setValue() clamps, and changed() comes only on a real change, from inside the call that
// made it: the callers' guard flag relies on that.
#include "panels/HexLineEdit.h"
#include "panels/UpDown.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

#include <climits>

using regbench::panels::HexFieldState;
using regbench::panels::HexLineEdit;
using regbench::panels::UpDown;

namespace {
// An active window with two boxes, the first focused, and a window shortcut that must never take their keys.
struct Window {
    QWidget widget;
    HexLineEdit* first = new HexLineEdit(&widget);
    HexLineEdit* second = new HexLineEdit(&widget);
    QAction* shortcut = new QAction(&widget);

    Window() {
        auto* layout = new QVBoxLayout(&widget);
        layout->addWidget(first);
        layout->addWidget(second);
        shortcut->setShortcuts({Qt::Key_Escape, Qt::Key_Backspace, Qt::Key_A, QKeySequence::Paste});
        widget.addAction(shortcut);
        widget.show();
        widget.activateWindow();
        first->setFocus();
    }
};
} // namespace

class PanelWidgetsTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        window_ = std::make_unique<Window>();
        QVERIFY(QTest::qWaitForWindowActive(&window_->widget));
        QTRY_VERIFY(window_->first->hasFocus());
    }
    void cleanup() { window_.reset(); }

    // Key, modifiers and text as a keyboard delivers them; code -1: the key must do nothing at all.
    void keys_data() {
        QTest::addColumn<int>("qtKey");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("code");
        const int ctrl = Qt::ControlModifier, shift = Qt::ShiftModifier;
        QTest::newRow("a") << int(Qt::Key_A) << 0 << "a" << int('a');
        QTest::newRow("backspace") << int(Qt::Key_Backspace) << 0 << "\b" << 8;
        QTest::newRow("escape") << int(Qt::Key_Escape) << 0 << "\x1b" << 27;
        QTest::newRow("enter") << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << "\r" << 13;
        QTest::newRow("delete") << int(Qt::Key_Delete) << 0 << "\x7f" << -1;
        QTest::newRow("ctrl backspace") << int(Qt::Key_Backspace) << ctrl << "" << -1;
        QTest::newRow("paste") << int(Qt::Key_V) << ctrl << "\x16" << -1;
        QTest::newRow("shift insert") << int(Qt::Key_Insert) << shift << "" << -1;
        QTest::newRow("cut") << int(Qt::Key_X) << ctrl << "\x18" << -1;
        QTest::newRow("undo") << int(Qt::Key_Z) << ctrl << "\x1a" << -1;
        QTest::newRow("alt 5") << int(Qt::Key_5) << int(Qt::AltModifier) << "5" << -1;
    }
    void keys() {
        QFETCH(int, qtKey);
        QFETCH(int, modifiers);
        QFETCH(QString, text);
        QFETCH(int, code);
        HexLineEdit* edit = window_->first;
        QApplication::clipboard()->setText(QStringLiteral("FF"));
        edit->applyState({"3", 1, 0});
        edit->insert(QStringLiteral("C")); // gives undo something to take back
        edit->selectAll();
        QSignalSpy typed(edit, &HexLineEdit::keyPressed);
        QSignalSpy fired(window_->shortcut, &QAction::triggered);
        QTest::sendKeyEvent(QTest::Click, edit, Qt::Key(qtKey), text, Qt::KeyboardModifiers(modifiers));
        QCOMPARE(typed.count(), code < 0 ? 0 : 1);
        QVERIFY(code < 0 || typed.at(0).at(0).toInt() == code);
        QCOMPARE(fired.count(), 0);
        QCOMPARE(edit->fieldState(), (HexFieldState{"3C", 0, 2}));
    }

    void inputMethodsDropsAndMenuAreOff() {
        HexLineEdit* edit = window_->first;
        edit->applyState({"3C", 2, 0});
        QInputMethodEvent compose(QString(), {});
        compose.setCommitString(QStringLiteral("FF"));
        QApplication::sendEvent(edit, &compose);
        QCOMPARE(edit->text(), QStringLiteral("3C"));
        QVERIFY(!edit->acceptDrops() && !edit->dragEnabled());
        const QPoint centre = edit->rect().center();
        QContextMenuEvent menu(QContextMenuEvent::Mouse, centre, edit->mapToGlobal(centre));
        QApplication::sendEvent(edit, &menu); // a line edit's menu pops up without blocking
        QWidget* popup = QApplication::activePopupWidget();
        if (popup)
            popup->close();
        QVERIFY(!popup);
    }

    void selectionCopyAndTabWork() {
        HexLineEdit* edit = window_->first;
        edit->applyState({"3C", 2, 0});
        QTest::keyClick(edit, Qt::Key_Left, Qt::ShiftModifier);
        QCOMPARE(edit->fieldState(), (HexFieldState{"3C", 1, 1})); // a backward selection starts at the caret
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(edit, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("3C"));
        QTest::keyClick(edit, Qt::Key_Tab);
        QTRY_VERIFY(window_->second->hasFocus());
        QTest::keyClick(window_->second, Qt::Key_Backtab, Qt::ShiftModifier);
        QTRY_VERIFY(edit->hasFocus());
    }

    void upDownStepsClampsAndReportsRealChanges() {
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

private:
    std::unique_ptr<Window> window_;
};

QTEST_MAIN(PanelWidgetsTest)
#include "PanelWidgetsTest.moc"
