#include "regmap/MapFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using regbench::regmap::MapFile;
using Outcome = regbench::regmap::MapFile::Outcome;

namespace {

const char ContentBytes[] = "TABNAME,\x80\x81\xFF\r\nREG,1,\0x\r\n";
const QByteArray Content(ContentBytes, sizeof ContentBytes - 1);

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// Puts what `kind` names at dir/tabdefs.csv; false when this machine cannot make it.
bool prepare(const QString& kind, const QString& dir) {
    const QString path = dir + u'/' + MapFile::fileName();
    const QString other = dir + QStringLiteral("/other");
    if (kind == u"regular" || kind == u"no permission")
        return writeFile(path, Content) && (kind == u"regular" || QFile::setPermissions(path, {}));
    if (kind == u"link to file" || kind == u"dangling link")
        return (kind == u"dangling link" || writeFile(other, Content)) && QFile::link(other, path);
    if (kind == u"directory")
        return QDir(dir).mkdir(MapFile::fileName());
    if (kind == u"fifo")
        return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
    if (kind == u"empty" || kind == u"oversized") // an oversized one sparse, so it costs no disk space
        return writeFile(path, {}) && (kind == u"empty" || QFile::resize(path, MapFile::MaxBytes + 1));
    return kind == u"missing";
}

} // namespace

class TestMapFile : public QObject {
    Q_OBJECT
private slots:
    void load_data() {
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("regular") << Outcome::Read << Content;
        QTest::newRow("empty") << Outcome::Read << QByteArray();
        QTest::newRow("link to file") << Outcome::Read << Content;
        QTest::newRow("missing") << Outcome::Missing << QByteArray();
        for (const char* kind : {"dangling link", "directory", "fifo", "oversized", "no permission"})
            QTest::newRow(kind) << Outcome::Unreadable << QByteArray();
    }

    void load() {
        QFETCH(Outcome, outcome);
        QFETCH(QByteArray, bytes);
        const QString kind = QString::fromLatin1(QTest::currentDataTag());
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        if (!prepare(kind, dir.path()))
            QSKIP("this file system cannot make that kind of entry");
        if (kind == u"no permission" && QFile(dir.filePath(MapFile::fileName())).open(QIODevice::ReadOnly))
            QSKIP("permissions are not enforced for this user");
        const MapFile::Loaded loaded = MapFile::load(dir.filePath(MapFile::fileName()));
        QCOMPARE(std::pair(loaded.outcome, loaded.bytes), std::pair(outcome, bytes));
        // A directory that does not exist holds no file either.
        QCOMPARE(MapFile::load(dir.filePath(QStringLiteral("absent/tabdefs.csv"))).outcome, Outcome::Missing);
    }
};

QTEST_GUILESS_MAIN(TestMapFile)
#include "MapFileTest.moc"
