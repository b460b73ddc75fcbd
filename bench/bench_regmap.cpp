// Times reading a 32,767-line definition file, far beyond any real map:
// once from memory, once through the file system. Prints median and best of several runs.
#include "regmap/MapFile.h"
#include "regmap/RegisterMapReader.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using regbench::regmap::MapFile;
using regbench::regmap::RegisterMapReader;

namespace {

constexpr int Lines = 32'767;
constexpr int Runs = 21;

QByteArray hex2(int value) {
    return QByteArray::number(value, 16).rightJustified(2, '0').toUpper();
}

// Titles, comment headings and tabs of six registers, each register with its bit names, repeated
// (tabs past the 32nd still name registers) until the line count is reached.
QByteArray generateFile() {
    QList<QByteArray> lines = {"TITLEBAR,Register bench", "TITLE,Evaluation board", "; generated map"};
    for (int block = 0; lines.size() < Lines; ++block) {
        lines << "TABNAME,Group " + QByteArray::number(block)
              << "; registers of group " + QByteArray::number(block);
        for (int r = 0; r < 6; ++r) {
            const int address = (block * 6 + r) % 256;
            lines << "REG,&H" + hex2(address) + ",REG_" + hex2(address) + "_CONTROL";
            QByteArray bits = "BITS";
            for (int b = 7; b >= 0; --b)
                bits += ",B" + QByteArray::number(b) + "_" + hex2(address);
            lines << bits;
        }
    }
    lines.resize(Lines);
    return lines.join("\r\n") + "\r\n";
}

struct Figures {
    double medianMs;
    double minMs;
};

Figures timeRuns(const std::function<int()>& work, int& sink) {
    std::vector<double> ms;
    for (int i = 0; i < Runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        sink += work();
        ms.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.front()};
}

void print(const char* what, const Figures& f, qsizetype bytes) {
    std::printf("%-28s median %8.3f ms   min %8.3f ms   %7.1f MB/s   %6.2f M lines/s (median)\n", what,
                f.medianMs, f.minMs, static_cast<double>(bytes) / 1e3 / f.medianMs, Lines / 1e3 / f.medianMs);
}

} // namespace

int main() {
    const QByteArray file = generateFile();
    std::printf("tabdefs.csv: %d lines, %lld bytes, %d runs each\n", Lines,
                static_cast<long long>(file.size()), Runs);

    int sink = 0;
    print("RegisterMapReader::read",
          timeRuns([&file] { return int{RegisterMapReader::read(file).map.TabCount}; }, sink), file.size());

    QTemporaryDir dir;
    QFile out(dir.filePath(MapFile::fileName()));
    if (!dir.isValid() || !out.open(QIODevice::WriteOnly) || out.write(file) != file.size()) {
        std::fprintf(stderr, "cannot write the temporary file\n");
        return 1;
    }
    out.close();
    const QString path = dir.path();
    print("MapFile::load + read",
          timeRuns(
              [&path] {
                  const MapFile::Loaded loaded = MapFile::load(path);
                  return int{RegisterMapReader::read(loaded.bytes).map.TabCount};
              },
              sink),
          file.size());
    // Keeps the work observable so it cannot be optimised away; every run sees 31 as the last tab.
    return sink == Runs * 2 * 31 ? 0 : 1;
}
