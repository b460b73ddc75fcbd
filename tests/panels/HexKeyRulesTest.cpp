// The typing rules of the hex text.
#include "panels/HexKeyRules.h"

#include <QRegularExpression>
#include <QTest>

using regbench::panels::HexFieldState;
using regbench::panels::HexKeyRules;

Q_DECLARE_METATYPE(HexFieldState)

class HexRulesTest : public QObject {
    Q_OBJECT
private slots:
    void apply_data() {
        QTest::addColumn<HexFieldState>("before");
        QTest::addColumn<int>("key");
        QTest::addColumn<HexFieldState>("after");
        QTest::addColumn<bool>("changed");
        auto row = [](const char* name, HexFieldState before, int key, HexFieldState after) {
            QTest::newRow(name) << before << key << after << true;
        };
        const int bs = HexKeyRules::Backspace, esc = HexKeyRules::Escape;
        row("selection replaced by a lone digit", {"3C", 0, 2}, '5', {"5", 1, 0});
        row("part selection replaced", {"3C", 0, 1}, '7', {"7C", 1, 0});
        row("first of two overwritten", {"3C", 0, 0}, 'f', {"FC", 1, 0});
        row("second of two overwritten", {"FC", 1, 0}, '1', {"F1", 2, 0});
        row("lone digit padded", {"5", 0, 0}, 'A', {"0A", 2, 0});
        row("empty text padded", {"", 0, 0}, '7', {"07", 2, 0});
        row("shift in at end", {"3C", 2, 0}, '7', {"C7", 2, 0});
        row("append to lone digit", {"5", 1, 0}, 'A', {"5A", 2, 0});
        row("long text at end keeps two", {"123", 3, 0}, '4', {"34", 2, 0});
        row("long text, caret inside", {"123", 1, 0}, '4', {"123", 1, 0});
        row("bs selection", {"3C", 1, 1}, bs, {"3", 1, 0});
        row("bs middle", {"3C", 1, 0}, bs, {"C", 0, 0});
        row("bs end", {"5A", 2, 0}, bs, {"5", 1, 0});
        row("bs empties", {"5", 1, 0}, bs, {"0", 1, 0});
        row("bs whole selection empties", {"3C", 0, 2}, bs, {"0", 1, 0});
        row("bs at start deletes nothing", {"3C", 0, 0}, bs, {"3C", 0, 0});
        row("esc", {"3C", 2, 0}, esc, {"00", 1, 0});
        row("esc with selection", {"A", 0, 1}, esc, {"00", 1, 0});
        row("caret past end", {"3C", 7, 0}, '1', {"C1", 2, 0});
        row("negative caret", {"3C", -3, 0}, '1', {"1C", 1, 0});
        row("selection past end", {"3C", 1, 9}, '5', {"35", 2, 0});
        // Rejected keys leave everything alone, even a caret outside the text.
        for (const int key : std::initializer_list<int>{'G', 'g', 'x', ' ', '@', '/', ':', '`',
                                                        int(HexKeyRules::Enter), 0, 9, 127, -1, 0x10041})
            QTest::addRow("rejects %d", key)
                << HexFieldState{"3C", 9, 4} << key << HexFieldState{"3C", 9, 4} << false;
    }
    void apply() {
        QFETCH(HexFieldState, before);
        QFETCH(int, key);
        QFETCH(HexFieldState, after);
        QFETCH(bool, changed);
        const auto result = HexKeyRules::apply(before, key);
        QCOMPARE(result.state.text, after.text);
        QCOMPARE(result.state.caret, after.caret);
        QCOMPARE(result.state.selectionLength, after.selectionLength);
        QCOMPARE(result.changed, changed);
    }

    // From any short text, caret, selection and key: still one or two upper-case hex digits.
    void typingKeepsOneOrTwoDigits() {
        const QRegularExpression valid(QStringLiteral("^[0-9A-F]{1,2}$"));
        for (const QString text : {"0", "5", "3C", "FF"})
            for (int caret = 0; caret <= text.size(); ++caret)
                for (int selection = 0; caret + selection <= text.size(); ++selection)
                    for (int key = 0; key < 128; ++key) {
                        const auto state = HexKeyRules::apply({text, caret, selection}, key).state;
                        QVERIFY2(valid.match(state.text).hasMatch(), qPrintable(text + QString::number(key)));
                        QVERIFY(state.caret >= 0 && state.caret <= state.text.size());
                    }
    }
};

QTEST_APPLESS_MAIN(HexRulesTest)
#include "HexKeyRulesTest.moc"
