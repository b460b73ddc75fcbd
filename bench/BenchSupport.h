#pragma once

#include <QString>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <sys/resource.h>
#include <vector>

namespace regbench::bench {

// CPU time of this process (user + system), in milliseconds.
inline double cpuMilliseconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

struct Summary {
    double mean = 0;
    double median = 0;
    double min = 0;
    double max = 0;
};

inline Summary summarise(std::vector<double> samples) {
    Summary s;
    if (samples.empty()) {
        return s;
    }
    std::sort(samples.begin(), samples.end());
    s.mean = std::accumulate(samples.begin(), samples.end(), 0.0) / static_cast<double>(samples.size());
    s.median = samples[samples.size() / 2];
    s.min = samples.front();
    s.max = samples.back();
    return s;
}

// A map naming every one of the 256 registers, spread over 32 tabs.
inline QByteArray fullMap() {
    QByteArray map = "TITLEBAR,Benchmark\r\n";
    for (int a = 0; a < 256; ++a) {
        if (a % 8 == 0) {
            map += "TABNAME,Tab " + QByteArray::number(a / 8) + "\r\n";
        }
        map += "REG," + QByteArray::number(a) + ",R" + QByteArray::number(a) + "\r\n";
    }
    return map;
}

} // namespace regbench::bench
