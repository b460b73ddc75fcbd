// Figures for the libusb backend against the umockdev-emulated bridge. Run: umockdev-wrapper ./bench_libusb
#include "BenchSupport.h"
#include "EmulatedBridge.h"
#include "usb/libusb/LibusbDriver.h"

#include <QCoreApplication>

#include <cstdio>
#include <vector>

using namespace regbench::usb;
using regbench::bench::cpuMilliseconds;
using regbench::bench::printMicroseconds;
using regbench::bench::roundTripMicroseconds;
using regbench::bench::runEventLoop;
using regbench::tests::EmulatedBridge;
using regbench::usb::libusb::LibusbDriver;

namespace {

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
    const double before = cpuMilliseconds();
    runEventLoop(IdleMs);
    const double used = cpuMilliseconds() - before;
    std::printf("idle, %-30s CPU %.1f ms in %d s (%.3f %% of one core)\n", name, used, IdleMs / 1000,
                used / 10.0 / (IdleMs / 1000.0));
    driver.WDU_VB_Uninit(driverHandle);
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
    for (const bool write : {false, true}) {
        const std::vector<double> us = roundTripMicroseconds(driver, device, write, 2000);
        if (us.empty()) {
            std::puts("transfer failed");
            return;
        }
        printMicroseconds(write ? "register write (request + reply)" : "register read (request + reply)", us);
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
