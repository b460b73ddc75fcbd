// The hex box's typing rules and the only keys it takes.
#include "common/HexText.h"
#include "panels/HexKeyRules.h"
#include "panels/HexLineEdit.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <string_view>

using namespace regbench::panels;
using regbench::common::HexText;

class PanelWidgetsTest : public QObject {
    Q_OBJECT
private slots:
    // The typing rules of the hex text: an overwrite field of one or two upper-case digits.
    void hexKeyRules() {
        const int bs = HexKeyRules::Backspace, esc = HexKeyRules::Escape;
        const auto fields = [](const auto& s) { return std::tuple(s.text, s.caret, s.selectionLength); };
        // text, caret, selection before; key; after
        const std::tuple<HexFieldState, int, HexFieldState> cases[] = {
            {{"3C", 0, 2}, '5', {"5", 1, 0}},  // a selection is replaced, the lone digit kept as it is
            {{"3C", 0, 0}, 'f', {"FC", 1, 0}}, // the digit after the caret is overwritten, in upper case
            {{"FC", 1, 0}, '1', {"F1", 2, 0}},
            {{"3C", 2, 0}, '7', {"C7", 2, 0}}, // at the end the older digit is pushed out on the left
            {{"5", 0, 0}, 'A', {"0A", 2, 0}},  // a lone digit before the caret is dropped
            {{"5", 1, 0}, 'A', {"5A", 2, 0}},
            {{"3C", 1, 1}, bs, {"3", 1, 0}},
            {{"5A", 2, 0}, bs, {"5", 1, 0}},
            {{"5", 1, 0}, bs, {"0", 1, 0}},    // an emptied text becomes 0, caret after it
            {{"3C", 0, 0}, bs, {"3C", 0, 0}},  // deletes nothing, yet counts as an edit
            {{"A", 0, 1}, esc, {"00", 1, 0}}}; // 00, then the 0 goes on as typed
        for (const auto& [before, key, after] : cases) {
            const auto result = HexKeyRules::apply(before, key);
            QCOMPARE(fields(result.state), fields(after));
            QVERIFY(result.changed);
        }
        // Just outside each accepted range, and Enter: nothing changes, nothing is refreshed.
        for (const char key : std::string_view("G@g`/:x \r")) {
            const auto result = HexKeyRules::apply({"3C", 1, 1}, key);
            QCOMPARE(std::tuple(key, result.changed, fields(result.state)),
                     std::tuple(key, false, fields(HexFieldState{"3C", 1, 1})));
        }
        // From any short text, caret, selection and key: still one or two upper-case hex digits, whose value
        // the panel reads as written; and every byte's text reads back as the byte.
        const QRegularExpression valid(QStringLiteral("^[0-9A-F]{1,2}$"));
        for (const QString text : {"0", "5", "3C", "FF"})
            for (int caret = 0; caret <= text.size(); ++caret)
                for (int selection = 0; caret + selection <= text.size(); ++selection)
                    for (int key = 0; key < 128; ++key) {
                        const auto state = HexKeyRules::apply({text, caret, selection}, key).state;
                        QVERIFY2(valid.match(state.text).hasMatch() && state.caret >= 0 &&
                                     state.caret <= state.text.size() &&
                                     HexText::value(state.text) == state.text.toInt(nullptr, 16),
                                 qPrintable(text + QString::number(key)));
                    }
        for (int v = 0; v <= 255; ++v)
            QCOMPARE(HexText::value(HexText::twoDigitHex(v)), v);
    }
    // In an active window whose shortcut would take Escape, Backspace, A and Paste if the box let it.
    void hexBoxTakesOnlyTypedKeys() {
        QWidget window;
        auto* edit = new HexLineEdit(&window);
        auto* shortcut = new QAction(&window);
        shortcut->setShortcuts({Qt::Key_Escape, Qt::Key_Backspace, Qt::Key_A, QKeySequence::Paste});
        window.addAction(shortcut);
        QSignalSpy fired(shortcut, &QAction::triggered);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTRY_VERIFY(edit->hasFocus());
        // the code the owner gets, or -1: nothing reaches it and the text stays
        const std::pair<QKeyCombination, int> cases[] = {
            {Qt::Key_A, 'a'},           {Qt::Key_Backspace, 8},
            {Qt::Key_Escape, 27},       {Qt::Key_Enter, 13},
            {Qt::Key_Delete, -1},       {Qt::CTRL | Qt::Key_Backspace, -1},
            {Qt::CTRL | Qt::Key_V, -1}, {Qt::CTRL | Qt::Key_X, -1},
            {Qt::CTRL | Qt::Key_Z, -1}, {Qt::SHIFT | Qt::Key_Insert, -1},
            {Qt::ALT | Qt::Key_5, -1}};
        for (const auto& [key, code] : cases) {
            edit->applyState({"3", 1, 0});
            edit->insert(QStringLiteral("C")); // gives undo something to take back
            edit->selectAll();
            QSignalSpy typed(edit, &HexLineEdit::keyPressed);
            QTest::keyClick(edit, key.key(), key.keyboardModifiers());
            QCOMPARE(typed.value(0).value(0, -1).toInt(), code);
            QCOMPARE(edit->fieldState(), (HexFieldState{"3C", 0, 2}));
        }
        QCOMPARE(fired.count(), 0);

        // Input methods, drops and the context menu would bypass the keys.
        QInputMethodEvent compose(QString(), {});
        compose.setCommitString(QStringLiteral("FF"));
        QApplication::sendEvent(edit, &compose);
        QCOMPARE(edit->text(), QStringLiteral("3C"));
        QVERIFY(!edit->acceptDrops());
        const QPoint centre = edit->rect().center();
        QContextMenuEvent menu(QContextMenuEvent::Mouse, centre, edit->mapToGlobal(centre));
        QApplication::sendEvent(edit, &menu); // a line edit's menu pops up without blocking
        QVERIFY(!QApplication::activePopupWidget());
        // Selecting and copying work; a backward selection starts at the caret.
        edit->applyState({"3C", 2, 0});
        QTest::keyClick(edit, Qt::Key_Left, Qt::ShiftModifier);
        QCOMPARE(edit->fieldState(), (HexFieldState{"3C", 1, 1}));
        QTest::keyClick(edit, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("C"));
    }
};

QTEST_MAIN(PanelWidgetsTest)
#include "PanelWidgetsTest.moc"
