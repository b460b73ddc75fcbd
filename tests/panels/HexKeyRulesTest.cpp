// The typing rules of the hex text: an overwrite field of one or two upper-case digits.
#include "panels/HexKeyRules.h"

#include <QRegularExpression>
#include <QTest>

#include <string_view>

using namespace regbench::panels;

class HexRulesTest : public QObject {
    Q_OBJECT
private slots:
    void rules() {
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
        // From any short text, caret, selection and key: still one or two upper-case hex digits.
        const QRegularExpression valid(QStringLiteral("^[0-9A-F]{1,2}$"));
        for (const QString text : {"0", "5", "3C", "FF"})
            for (int caret = 0; caret <= text.size(); ++caret)
                for (int selection = 0; caret + selection <= text.size(); ++selection)
                    for (int key = 0; key < 128; ++key) {
                        const auto state = HexKeyRules::apply({text, caret, selection}, key).state;
                        QVERIFY2(valid.match(state.text).hasMatch() && state.caret >= 0 &&
                                     state.caret <= state.text.size(),
                                 qPrintable(text + QString::number(key)));
                    }
    }
};

QTEST_APPLESS_MAIN(HexRulesTest)
#include "HexKeyRulesTest.moc"
