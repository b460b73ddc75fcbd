#pragma once

#include "common/ChipAddress.h"
#include "usb/BridgeIds.h"
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
#include <type_traits>
#include <unistd.h>
#include <vector>

namespace regbench::bench {

// The benches that emulate devices run under umockdev-wrapper; outside it they say so (and end with 77).
inline bool outsideUmockdev() {
    if (qgetenv("LD_PRELOAD").contains("libumockdev-preload"))
        return false;
    std::fputs("Run this under umockdev-wrapper.\n", stderr);
    return true;
}

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

// Every figure multiplied by scale, so that samples in microseconds can be told in milliseconds.
inline Summary summarise(std::vector<double> samples, double scale = 1) {
    Summary s;
    if (samples.empty())
        return s;
    std::sort(samples.begin(), samples.end());
    s.mean =
        scale * std::accumulate(samples.begin(), samples.end(), 0.0) / static_cast<double>(samples.size());
    s.median = scale * samples[samples.size() / 2];
    s.min = scale * samples.front();
    s.max = scale * samples.back();
    return s;
}

// One row of a bench's figures: a sample's count and spread.
inline void printMicroseconds(const char* name, const std::vector<double>& us) {
    const Summary s = summarise(us);
    std::printf("%-50s n=%zu  mean %.3f  median %.3f  min %.3f  max %.3f  (us)\n", name, us.size(), s.mean,
                s.median, s.min, s.max);
}

template <class Work> double millisecondsOf(Work&& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// Microseconds each call of step(i) takes, for i from 0 on, past the first warmUp calls, which are not kept;
// empty as soon as a call that tells its outcome returns false.
template <class Step> std::vector<double> timeEach(int iterations, Step step, int warmUp = 0) {
    std::vector<double> us;
    us.reserve(static_cast<std::size_t>(iterations));
    for (int i = 0; i < warmUp + iterations; ++i) {
        bool ok = true;
        const double ms = millisecondsOf([&] {
            if constexpr (std::is_void_v<decltype(step(i))>)
                step(i);
            else
                ok = step(i);
        });
        if (!ok)
            return {};
        if (i >= warmUp)
            us.push_back(1000.0 * ms);
    }
    return us;
}

// Lets the event loop run, so that a backend's hand-over reaches the callbacks. A loop of its own, as
// QTest::qWait would wake every 10 ms itself.
inline void runEventLoop(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// CPU time this process takes while its event loop idles for ms.
inline double idleCpuMilliseconds(int ms) {
    const double before = cpuMilliseconds();
    runEventLoop(ms);
    return cpuMilliseconds() - before;
}

inline void printIdleCpu(const char* name) {
    constexpr int IdleMs = 5000;
    const double used = idleCpuMilliseconds(IdleMs);
    std::printf("idle, %-44s CPU %.1f ms in %d s (%.3f %% of one core)\n", name, used, IdleMs / 1000,
                100.0 * used / IdleMs);
}

// A backend of the USB layer opened for the bridge; it takes every device offered, and closes on destruction.
struct OpenLayer {
    explicit OpenLayer(usb::UsbDriver& backend) : driver(backend) {
        usb::EventTable table;
        table.AttachCallback = [this](std::uint32_t h, const usb::DeviceInfo&, void*) {
            handle = h;
            attachedAt = std::chrono::steady_clock::now();
            return true;
        };
        table.DetachCallback = [](std::uint32_t, void*) {};
        const usb::MatchEntry match{usb::BridgeVendorId, usb::BridgeProductId};
        status = driver.WDU_VB_Init(&driverHandle, &match, 1, table, 1, nullptr);
    }
    ~OpenLayer() {
        if (status == usb::UsbStatus::Success)
            driver.WDU_VB_Uninit(driverHandle);
    }
    OpenLayer(const OpenLayer&) = delete;
    OpenLayer& operator=(const OpenLayer&) = delete;

    // Runs the event loop until a device is offered, for 5 s at the most.
    bool waitForDevice() {
        for (int i = 0; i < 5000 && handle == 0; ++i)
            runEventLoop(1);
        return handle != 0;
    }

    usb::UsbDriver& driver;
    std::uint32_t status = 0;
    std::uint32_t driverHandle = 0;
    std::uint32_t handle = 0;
    std::chrono::steady_clock::time_point attachedAt;
};

// Times request + reply on the bridge's pipes, after 50 that warm up, each transfer preceded by the
// device-information fetch the window makes if withInfo; empty when a transfer or its status failed.
inline std::vector<double> roundTripMicroseconds(usb::UsbDriver& driver, std::uint32_t handle, bool write,
                                                 int iterations, bool withInfo = false) {
    const auto transfer = [&](std::uint32_t pipe, std::uint8_t* data, std::uint32_t length) {
        std::uint32_t done = 0;
        usb::DeviceInfo info;
        return (!withInfo || driver.WDU_GetDeviceInfo(handle, &info) == usb::UsbStatus::Success) &&
               driver.WDU_Transfer(handle, pipe, pipe >> 7, 0, data, length, &done, {}, 30000) ==
                   usb::UsbStatus::Success;
    };
    constexpr std::uint8_t chip = common::ChipAddress::Default;
    const auto roundTrip = [&](int i) {
        const auto address = static_cast<std::uint8_t>(i);
        std::array<std::uint8_t, 4> request{};
        if (write)
            request = usb::BridgeProtocol::writeRequest(chip, address, static_cast<std::uint8_t>(i * 7));
        else
            std::ranges::copy(usb::BridgeProtocol::readRequest(chip, address), request.begin());
        std::array<std::uint8_t, 10> reply{};
        const std::uint32_t length = write ? 4 : 3;
        return transfer(usb::BridgeProtocol::RequestPipe, request.data(), length) &&
               transfer(usb::BridgeProtocol::ReplyPipe, reply.data(), length) && reply[0] == 0;
    };
    return timeEach(iterations, roundTrip, 50);
}

// Opens the backend, waits for a device and prints a row each for register reads and writes through it;
// variant tells the backend's rows apart.
inline void printRoundTrips(usb::UsbDriver& driver, const QByteArray& variant) {
    OpenLayer layer(driver);
    if (!layer.waitForDevice()) {
        std::puts("the emulated device was not offered");
        return;
    }
    for (const bool write : {false, true}) {
        const std::vector<double> us = roundTripMicroseconds(driver, layer.handle, write, 2000);
        if (us.empty()) {
            std::puts("transfer failed");
            return;
        }
        const QByteArray name =
            QByteArray("register ") + (write ? "write" : "read") + variant + " (request + reply)";
        printMicroseconds(name.constData(), us);
    }
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
