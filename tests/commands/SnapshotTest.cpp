// Snapshots as files: names that need quoting come back as they were, and a problem names its file's line.
#include "commands/Snapshot.h"
#include "regmap/RegisterMapReader.h"

#include <QTest>

using regbench::commands::Snapshot;

class SnapshotTest : public QObject {
    Q_OBJECT
private slots:
    void oddNamesRoundTripAndProblemsNameTheirLine() {
        // A name may hold quotes, a line break (within a CR LF file) and blanks, never a comma.
        const auto map =
            regbench::regmap::RegisterMapReader::read("TABNAME,T\r\nREG,1,say \"hi\"\r\nREG,2,two\nlines\r\n"
                                                      "REG,3, blank \r\n")
                .map;
        QString text = Snapshot::header();
        for (int a : {3, 1, 2})
            text += Snapshot::line(map, std::uint8_t(a), std::uint8_t(0x10 * a));
        QCOMPARE(text, "address,name,value\n0x03, blank ,0x30\n0x01,\"say \"\"hi\"\"\",0x10\n"
                       "0x02,\"two\nlines\",0x20\n");
        const Snapshot::Read back = Snapshot::parse(text, "s.csv", map);
        QVERIFY(back.entries && back.entries->size() == 3);
        QVERIFY(back.entries->at(1).address == 1 && back.entries->at(1).value == 0x10);
        QVERIFY(back.entries->at(2).address == 2 && back.entries->at(2).value == 0x20);

        // clang-format off
        const std::pair<QString, QString> problems[] = {
            {text + "0x01,say \"hi\",0x10\n", "s.csv:6: a quote inside a field that does not start with one"},
            {text + "0x02,\"two\n", "s.csv:6: a quoted field that is never closed"},
            {text + "0x03,\" blank \"x,1\n", "s.csv:6: text after a closing quote"},
            {text + "\n0x03, blank ,256\r\n", "s.csv:7: \"256\" is not a value from 0 to 255"},
            {text + "0x04,X,1\n", "s.csv:6: register 0x04 is \"\" in the map, not \"X\": the snapshot is of another chip or map"},
            {text + "0x03,BLANK,1\n", "s.csv:6: register 0x03 is \" blank \" in the map, not \"BLANK\": the snapshot is of another chip or map"},
            {text + "3,1\n", "s.csv:6: 2 fields where address,name,value are 3"},
            {"address,value\n", "s.csv:1: the header is not address,name,value"},
        };
        // clang-format on
        for (const auto& [input, problem] : problems) {
            const Snapshot::Read read = Snapshot::parse(input, "s.csv", map);
            QVERIFY2(!read.entries, qPrintable(problem));
            QCOMPARE(read.problem, problem);
        }
    }
};

QTEST_GUILESS_MAIN(SnapshotTest)
#include "SnapshotTest.moc"
