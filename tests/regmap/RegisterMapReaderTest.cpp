#include "regmap/RegisterMapReader.h"

#include <QStringEncoder>
#include <QStringList>
#include <QTest>

using regbench::regmap::RegisterMap;
using regbench::regmap::RegisterMapReader;

namespace {

// A probe is "name:index"; bits are listed from bit 7 down, "named" lists every named address.
QString probe(const RegisterMapReader::ReadResult& r, const QString& key) {
    const RegisterMap& m = r.map;
    const QString name = key.section(u':', 0, 0), none = QStringLiteral("<none>");
    const int i = key.section(u':', 1).toInt();
    QStringList out;
    for (int s = 0; name == u"slots" && s < RegisterMap::SlotsPerTab; ++s)
        out << QString::number(m.TabSlotAddr[s][i]);
    for (int b = RegisterMap::BitsPerRegister - 1; name == u"bits" && b >= 0; --b)
        out << m.BitNames[b][i];
    for (int a = 0; name == u"named" && a < RegisterMap::RegisterCount; ++a)
        if (!m.RegNames[a].isEmpty())
            out << QString::number(a);
    if (QStringList{"n", "t", "r", "bar", "title", "chip", "ignored"}.contains(name))
        out << (name == u"n"       ? QString::number(m.TabCount)
                : name == u"t"     ? m.TabNames[i]
                : name == u"r"     ? m.RegNames[i]
                : name == u"bar"   ? r.titleBar.value_or(none)
                : name == u"title" ? r.title.value_or(none)
                : name == u"chip"  ? (r.chipAddress ? QString::number(*r.chipAddress, 16) : none)
                                   : r.ignored.join(u'|'));
    return out.join(name == u"bits" ? u'|' : u',');
}

QByteArray utf16(const QString& text, QStringConverter::Encoding encoding) {
    return QStringEncoder(encoding, QStringConverter::Flag::WriteBom)(text);
}

const QString Empty6 = QStringLiteral("-1,-1,-1,-1,-1,-1");

} // namespace

class TestRegisterMapReader : public QObject {
    Q_OBJECT
private slots:
    void records_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("expect");
        // clang-format off
        QTest::newRow("crlf, blank lines") << QByteArray("\r\nTABNAME,Main\r\n\r\n\r\nREG,16,CTRL\r\nREG,&H11,STAT\r\n")
            << QStringList{"n=0", "t:0=Main", "slots:0=16,17,-1,-1,-1,-1", "r:16=CTRL", "r:17=STAT"};
        QTest::newRow("lf ends records without crlf") << QByteArray("TABNAME,Main\rX\nREG,16,CTRL\nREG,1\r7,S\n")
            << QStringList{"n=0", "t:0=Main\rX", "slots:0=16,1,-1,-1,-1,-1", "r:16=CTRL", "r:1=S"};
        QTest::newRow("lone cr or lf kept beside crlf") << QByteArray("TABNAME,A\rB\r\nREG,1\r2,X\r\nREG,\r3,Y\r\nREG,4\n5,Z\nREG")
            << QStringList{"t:0=A\rB", "named=0,1,45", "r:1=X", "r:0=Y", "r:45=Z\nREG", "slots:0=1,0,45,-1,-1,-1"};
        QTest::newRow("keyword case") << QByteArray("tabname,a\r\nReG,2,x\r\nbItS,h\r\nTitleBar,w\r\ntitle,l")
            << QStringList{"n=0", "t:0=a", "r:2=x", "bits:2=h|||||||", "bar=w", "title=l"};
        QTest::newRow("keyword blanks, titles absent")
            << QByteArray(" REG,3,A\r\nREG ,4,B\r\nREGS,5,C\r\n; REG,6,D\r\nTAB,x\r\nTITLE,\r\nTITLEBAR")
            << QStringList{"n=-1", "named=", "title=<none>", "bar=<none>"};
        QTest::newRow("blanks kept") << QByteArray("TABNAME, Main \r\nREG, 4 , name ,extra,more")
            << QStringList{"t:0= Main ", "r:4= name ", "slots:0=4,-1,-1,-1,-1,-1"};
        QTest::newRow("address forms, out of range fills nothing")
            << QByteArray("TABNAME,A\r\nREG,16,a\r\nREG,&h10,b\r\nREG,0x10,c\r\nREG,2.5,d\r\nREG,3.5,e\r\n"
                          "REG,256,f\r\nREG,-1,g\r\nREG,1e9,h\r\nREG,1E9223372036854775807,HUGE")
            << QStringList{"slots:0=16,16,0,2,4,-1", "r:16=b", "r:0=c", "r:2=d", "r:4=e", "named=0,2,4,16"};
        QTest::newRow("seven regs")
            << QByteArray("TABNAME,A\r\nREG,1,a\r\nREG,2,b\r\nREG,3,c\r\nREG,4,d\r\nREG,5,e\r\nREG,6,f\r\n"
                          "REG,7,g\r\nTABNAME,B\r\nREG,8,h")
            << QStringList{"slots:0=1,2,3,4,5,7", "r:6=f", "slots:1=8,-1,-1,-1,-1,-1"};
        QTest::newRow("bit order") << QByteArray("REG,5,R\r\nBITS,b7,b6,b5,b4,b3,b2,b1,b0,x\r\nREG,6,S\r\nBITS,q")
            << QStringList{"bits:5=b7|b6|b5|b4|b3|b2|b1|b0", "bits:6=q|||||||"};
        QTest::newRow("bits before any reg, after a bad one")
            << QByteArray("BITS,a,b,c,d,e,f,g,h\r\nBITS,z\r\nREG,1,A\r\nBITS,x\r\nREG,300,B\r\nBITS,y\r\n"
                          "REG,-1\r\nBITS,w")
            << QStringList{"bits:0=z|||||||", "bits:1=x|||||||", "bits:255=|||||||", "bits:44=|||||||", "named=1"};
        QTest::newRow("titles last non-empty") << QByteArray("TITLE,one\r\nTITLEBAR,bar\r\nTITLE,two\r\nTITLE,\r\nTITLE\r\nTITLEBAR,")
            << QStringList{"title=two", "bar=bar"};
        QTest::newRow("chip address: forms, range, the last valid one") << QByteArray(
            "I2CADDR, 0x48 \r\nI2CADDR,&h49\r\ni2caddr,74\r\nI2CADDR,0x78\r\nI2CADDR,4a\r\nI2CADDR,7\r\nI2CADDR")
            << QStringList{"chip=4a", "ignored=I2CADDR record on line 4 ignored: \"0x78\" is not an I2C address from "
                "0x08 to 0x77|I2CADDR record on line 5 ignored: \"4a\" is not a number|I2CADDR record on line 6 "
                "ignored: \"7\" is not an I2C address from 0x08 to 0x77|I2CADDR record on line 7 ignored: \"\" is "
                "not a number"};
        QTest::newRow("chip address: none valid, none given") << QByteArray("I2CADDR,0x77 x\r\nI2CADDR,-0x10\r\nREG,1,A")
            << QStringList{"chip=<none>", "ignored=I2CADDR record on line 1 ignored: \"0x77 x\" is not a number|"
                "I2CADDR record on line 2 ignored: \"-0x10\" is not a number"};
        QTest::newRow("utf-8 mark dropped") << QByteArray("\xEF\xBB\xBFTABNAME,A\r\nTABNAME,B\xC3\xA9\xFF")
            << QStringList{"n=1", "t:0=A", "t:1=B\u00e9\uFFFD"};
        for (int k = 0; k < 8; ++k) // the only non-ASCII character in the bytes after the last whole word
            QTest::addRow("utf-8 at the end, length %d", 8 + k) << "TITLE," + QByteArray(k, 'x') + "\xC2\xB5" << QStringList{"title=" + QString(k, u'x') + u'\u00b5'};
        QTest::newRow("utf-8 without mark") << QByteArray("TABNAME,Temp\xC3\xA9rature \xC2\xB5\nREG,1,\xF0\x9F\x94\xA5")
            << QStringList{"t:0=Temp\u00e9rature \u00b5", "r:1=\U0001F525"};
        // Windows-1252, its five unassigned bytes kept as C1 controls
        QTest::newRow("not utf-8 is ansi") << QByteArray("TABNAME,\xE9 \xB5\x80\x81\x8A\x8D\x8F\x90\x99\x9D\x9F\xFF\r\nREG,1,\xC3\xA9\xC3")
            << QStringList{"t:0=\u00e9 \u00b5\u20ac\u0081\u0160\u008d\u008f\u0090\u2122\u009d\u0178\u00ff", "r:1=\u00c3\u00a9\u00c3"};
        // The second caption's pair of UTF-16 units straddles the reader's 64 KiB pieces.
        const QString acrossPieces = QString(32'738, u'x') + QStringLiteral("\U0001F525");
        QTest::newRow("utf-16 le")
            << utf16("TABNAME,\u00b5A\nREG,2,\U0001F525\nTABNAME," + acrossPieces, QStringConverter::Utf16LE)
            << QStringList{"t:0=\u00b5A", "r:2=\U0001F525", "t:1=" + acrossPieces};
        QTest::newRow("utf-16 be") << utf16("TABNAME,A\r\nREG,2,B\nC", QStringConverter::Utf16BE)
            << QStringList{"t:0=A", "r:2=B\nC"};
        QTest::newRow("reg before tabname, duplicate captions")
            << QByteArray("REG,5,X\r\nTABNAME,A\r\nTABNAME,A\r\nREG,6,Y")
            << QStringList{"named=5,6", "n=1", "t:0=A", "t:1=A", "slots:0=" + Empty6, "slots:1=6,-1,-1,-1,-1,-1"};
        QTest::newRow("missing fields") << QByteArray("TABNAME\r\nREG,5\r\nREG\r\nBITS,a,b")
            << QStringList{"n=0", "t:0=", "slots:0=5,0,-1,-1,-1,-1", "named=", "bits:0=a|b||||||"};
        QTest::newRow("empty file") << QByteArray() << QStringList{"n=-1", "slots:31=" + Empty6, "named="};
        QByteArray tabs;
        for (int i = 0; i < 33; ++i)
            tabs += "TABNAME,T" + QByteArray::number(i) + "\r\nREG," + QByteArray::number(100 + i) + ",R\r\n";
        QTest::newRow("33 tabs") << tabs + "REG,7,Late\r\nBITS,b"
            << QStringList{"n=31", "t:31=T31", "slots:31=131,-1,-1,-1,-1,-1", "r:132=R", "r:7=Late",
                           "bits:7=b|||||||"};
        QTest::newRow("40000 lines")
            << "TABNAME,Big\r\n" + QByteArray("REG,7,R7\r\n").repeated(39'998) + "REG,200,LAST"
            << QStringList{"n=0", "slots:0=7,7,7,7,7,200", "r:200=LAST"};
        // clang-format on
    }

    void records() {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, expect);
        const auto result = RegisterMapReader::read(file);
        for (const QString& e : expect)
            QCOMPARE(probe(result, e.section(u'=', 0, 0)), e.section(u'=', 1));
    }

    void address() {
        constexpr int Big = RegisterMapReader::AddressClamp;
        // clang-format off
        const std::pair<const char*, int> rows[] = {
            {"16", 16}, {"&h1f", 31}, {"&HFG", 15}, {"&H", 0}, {"&H-5", 0}, {"0x10", 0}, {"2.5", 2}, {"3.5", 4},
            {"-0.5", 0}, {"2.51", 3}, {"255.5", 256}, {"-1.5", -2}, {"+7", 7}, {"1e2", 100}, {"25e-1", 2},
            {"1e+", 1}, {" 1 2 ", 12}, {"\t3\n4", 34}, {"1 e 2", 100}, {"& H 1 0", 16}, {"12abc", 12}, {"abc", 0},
            {"inf", 0}, {"nan", 0}, {"", 0}, {".", 0}, {".5", 0}, {"-", 0}, {"--5", 0}, {"-&H10", 0}, {"\r5", 0},
            {"5\r6", 5}, {"1.2.3", 1}, {"0.0000000000000000000006e22", 6},
            {"2.5000000000000000000000001", 2}, // as the double it reads as: 2.5
            {"1e-400", 0}, {"1e400", Big}, {"1e999999999999999999", Big}, {"10E9223372036854775807", Big},
            {"0.001e-9223372036854775807", 0}, {"&HFFFFFFFFFFFFFFFFFFFFFF", Big}, {"-1e99999999999", -Big}, {"9999999.5", Big}};
        // clang-format on
        for (const auto& [field, expected] : rows)
            QCOMPARE(std::pair(QString::fromLatin1(field),
                               RegisterMapReader::readAddress(QString::fromLatin1(field))),
                     std::pair(QString::fromLatin1(field), expected));
    }
};

QTEST_GUILESS_MAIN(TestRegisterMapReader)
#include "RegisterMapReaderTest.moc"
