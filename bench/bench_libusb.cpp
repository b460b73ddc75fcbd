// Figures for the libusb backend against the umockdev-emulated bridge. Run: umockdev-wrapper ./bench_libusb
#include "EmulatedBridge.h"
#include "usb/libusb/LibusbDriver.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <numeric>
#include <vector>

using namespace regbench::usb;
using regbench::tests::EmulatedBridge;
using regbench::usb::libusb::LibusbDriver;

namespace {

constexpr std::array<std::uint8_t, SetupPacketSize> NoSetup{};

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void runEventLoop(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

EventTable recordingTable(std::uint32_t& handle) {
    EventTable table;
    table.AttachCallback = [&handle](std::uint32_t h, const DeviceInfo&, void*) {
        handle = h;
        return true;
    };
    table.DetachCallback = [](std::uint32_t, void*) {};
    return table;
}

void idleCpu(LibusbDriver::DeviceWatch watch, const char* name) {
    EmulatedBridge bridge; // no bridge plugged in
    LibusbDriver driver(watch);
    std::uint32_t device = 0;
    std::uint32_t driverHandle = 0;
    const MatchEntry match{BridgeVendorId, BridgeProductId};
    if (driver.WDU_VB_Init(&driverHandle, &match, 1, recordingTable(device), 1, nullptr) !=
        UsbStatus::Success) {
        std::puts("WDU_VB_Init failed");
        return;
    }
    constexpr int IdleMs = 5000;
    const double before = cpuSeconds();
    runEventLoop(IdleMs);
    const double used = cpuSeconds() - before;
    std::printf("idle, %-30s CPU %.1f ms in %d s (%.3f %% of one core)\n", name, used * 1e3, IdleMs / 1000,
                used * 100.0 / (IdleMs / 1000.0));
    driver.WDU_VB_Uninit(driverHandle);
}

void printStats(const char* name, std::vector<double> us) {
    std::sort(us.begin(), us.end());
    const double mean = std::accumulate(us.begin(), us.end(), 0.0) / static_cast<double>(us.size());
    std::printf("%-34s n=%zu  mean %.1f  median %.1f  min %.1f  max %.1f  (us)\n", name, us.size(), mean,
                us[us.size() / 2], us.front(), us.back());
}

void roundTrips() {
    EmulatedBridge bridge;
    bridge.add();
    LibusbDriver driver;
    std::uint32_t device = 0;
    std::uint32_t driverHandle = 0;
    const MatchEntry match{BridgeVendorId, BridgeProductId};
    driver.WDU_VB_Init(&driverHandle, &match, 1, recordingTable(device), 1, nullptr);
    for (int i = 0; i < 100 && device == 0; ++i)
        runEventLoop(10);
    if (device == 0) {
        std::puts("the emulated bridge was not offered");
        return;
    }
    constexpr int Iterations = 2000;
    std::uint32_t done = 0;
    for (const bool write : {false, true}) {
        std::vector<double> us;
        for (int i = 0; i < Iterations + 50; ++i) {
            const auto address = static_cast<std::uint8_t>(i);
            std::array<std::uint8_t, 4> request = {0x01, 0x39, address, 0};
            if (write)
                request = {0x00, 0x38, address, static_cast<std::uint8_t>(i * 7)};
            std::array<std::uint8_t, 10> reply{};
            const auto start = std::chrono::steady_clock::now();
            const bool ok = driver.WDU_Transfer(device, 0x02, 0, 0, request.data(), write ? 4 : 3, &done,
                                                NoSetup, 30000) == 0 &&
                            driver.WDU_Transfer(device, 0x82, 1, 0, reply.data(), write ? 4 : 3, &done,
                                                NoSetup, 30000) == 0;
            const std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
            if (!ok) {
                std::puts("transfer failed");
                return;
            }
            if (i >= 50) // the first ones warm up
                us.push_back(took.count());
        }
        printStats(write ? "register write (request + reply)" : "register read (request + reply)", us);
    }
    driver.WDU_VB_Uninit(driverHandle);
}

} // namespace

int main(int argc, char** argv) {
    if (!qgetenv("LD_PRELOAD").contains("libumockdev-preload")) {
        std::fputs("Run this under umockdev-wrapper.\n", stderr);
        return 77;
    }
    QCoreApplication app(argc, argv);
    roundTrips();
    idleCpu(LibusbDriver::DeviceWatch::Automatic, "hot-plug, no bridge:");
    idleCpu(LibusbDriver::DeviceWatch::Polling, "listing each 1 s, no bridge:");
    return 0;
}
