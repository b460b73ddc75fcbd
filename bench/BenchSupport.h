#pragma once

#include "usb/BridgeProtocol.h"
#include "usb/UsbDriver.h"

#include <QByteArray>
#include <QEventLoop>
#include <QFile>
#include <QList>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <numeric>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace regbench::bench {

// CPU time of this process (user + system), in milliseconds.
inline double cpuMilliseconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) * 1000.0 + t.tv_usec / 1000.0;
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// Memory of this process in RAM now, and the most it has held so far.
inline double residentBytes() {
    std::ifstream statm("/proc/self/statm");
    double size = 0;
    double resident = 0;
    statm >> size >> resident;
    return resident * static_cast<double>(sysconf(_SC_PAGESIZE));
}

// VmHWM belongs to this program's image; getrusage's maximum would start from the parent's at fork.
inline double peakResidentBytes() {
    std::ifstream status("/proc/self/status");
    for (std::string key; status >> key;) {
        if (key == "VmHWM:") {
            double kilobytes = 0;
            status >> kilobytes;
            return kilobytes * 1024.0;
        }
    }
    return 0;
}

// Milliseconds since this process started.
inline double processStartMilliseconds() {
    std::ifstream stat("/proc/self/stat");
    std::string field;
    for (int i = 0; i < 22 && stat >> field; ++i) {
    }
    const double startTicks = std::stod(field);
    timespec boot{};
    clock_gettime(CLOCK_BOOTTIME, &boot);
    const double nowMs = static_cast<double>(boot.tv_sec) * 1000.0 + static_cast<double>(boot.tv_nsec) / 1e6;
    return nowMs - startTicks * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

struct Summary {
    double mean = 0;
    double median = 0;
    double min = 0;
    double max = 0;
};

inline Summary summarise(std::vector<double> samples) {
    Summary s;
    if (samples.empty())
        return s;
    std::sort(samples.begin(), samples.end());
    s.mean = std::accumulate(samples.begin(), samples.end(), 0.0) / static_cast<double>(samples.size());
    s.median = samples[samples.size() / 2];
    s.min = samples.front();
    s.max = samples.back();
    return s;
}

inline void printMicroseconds(const char* name, const std::vector<double>& us) {
    const Summary s = summarise(us);
    std::printf("%-50s n=%zu  mean %.1f  median %.1f  min %.1f  max %.1f  (us)\n", name, us.size(), s.mean,
                s.median, s.min, s.max);
}

// Lets the event loop run, so that a backend's hand-over reaches the callbacks.
inline void runEventLoop(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// Times request + reply on the bridge's pipes, after 50 that warm up; empty when a transfer or its status
// failed.
inline std::vector<double> roundTripMicroseconds(usb::UsbDriver& driver, std::uint32_t handle, bool write,
                                                 int iterations) {
    std::vector<double> us;
    for (int i = 0; i < iterations + 50; ++i) {
        const auto address = static_cast<std::uint8_t>(i);
        std::array<std::uint8_t, 4> request{};
        if (write)
            request = usb::BridgeProtocol::writeRequest(address, static_cast<std::uint8_t>(i * 7));
        else
            std::ranges::copy(usb::BridgeProtocol::readRequest(address), request.begin());
        std::array<std::uint8_t, 10> reply{};
        std::uint32_t done = 0;
        const auto start = std::chrono::steady_clock::now();
        const bool ok = driver.WDU_Transfer(handle, usb::BridgeProtocol::RequestPipe, 0, 0, request.data(),
                                            write ? 4 : 3, &done, {}, 30000) == usb::UsbStatus::Success &&
                        driver.WDU_Transfer(handle, usb::BridgeProtocol::ReplyPipe, 1, 0, reply.data(),
                                            write ? 4 : 3, &done, {}, 30000) == usb::UsbStatus::Success;
        const std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
        if (!ok || reply[0] != 0)
            return {};
        if (i >= 50)
            us.push_back(took.count());
    }
    return us;
}

// A map naming every one of the 256 registers, spread over 32 tabs.
inline QByteArray fullMap() {
    QByteArray map = "TITLEBAR,Benchmark\r\n";
    for (int a = 0; a < 256; ++a) {
        if (a % 8 == 0)
            map += "TABNAME,Tab " + QByteArray::number(a / 8) + "\r\n";
        map += "REG," + QByteArray::number(a) + ",R" + QByteArray::number(a) + "\r\n";
    }
    return map;
}

inline void writeMap(const QTemporaryDir& dir, const QByteArray& map) {
    QFile file(dir.filePath(QStringLiteral("tabdefs.csv")));
    if (!file.open(QIODevice::WriteOnly) || file.write(map) != map.size())
        std::exit(5);
}

// Titles, comment headings and tabs of six registers, each with its bit names, repeated (tabs past the 32nd
// still name registers) until both the line count and the size are reached.
inline QByteArray generatedMap(qint64 lines, qint64 minBytes) {
    const auto hex2 = [](int value) {
        return QByteArray::number(value, 16).rightJustified(2, '0').toUpper();
    };
    QByteArray out = "TITLEBAR,Register bench\r\nTITLE,Evaluation board\r\n; generated map\r\n";
    qint64 count = 3;
    for (int block = 0; count < lines || out.size() < minBytes; ++block) {
        QList<QByteArray> group{"TABNAME,Group " + QByteArray::number(block),
                                "; registers of group " + QByteArray::number(block)};
        for (int r = 0; r < 6; ++r) {
            const int address = (block * 6 + r) % 256;
            group << "REG,&H" + hex2(address) + ",REG_" + hex2(address) + "_CONTROL";
            QByteArray bits = "BITS";
            for (int b = 7; b >= 0; --b)
                bits += ",B" + QByteArray::number(b) + "_" + hex2(address);
            group << bits;
        }
        for (const QByteArray& line : group) {
            if (count >= lines && out.size() >= minBytes)
                break;
            out += line + "\r\n";
            ++count;
        }
    }
    return out;
}

} // namespace regbench::bench
