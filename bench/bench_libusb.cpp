// Figures for the libusb backend against the umockdev-emulated bridge. Run: umockdev-wrapper ./bench_libusb
#include "BenchSupport.h"
#include "EmulatedBridge.h"
#include "usb/libusb/LibusbDriver.h"

#include <QCoreApplication>

#include <cstdio>
#include <vector>

using namespace regbench::bench;
using regbench::tests::EmulatedBridge;
using regbench::usb::libusb::LibusbDriver;

namespace {

void idleCpu() {
    EmulatedBridge bridge; // no bridge plugged in
    LibusbDriver driver;
    OpenLayer layer(driver);
    if (layer.status != regbench::usb::UsbStatus::Success) {
        std::puts("WDU_VB_Init failed");
        return;
    }
    printIdleCpu("hot-plug, no bridge:");
}

void roundTrips() {
    EmulatedBridge bridge;
    bridge.add();
    LibusbDriver driver;
    OpenLayer layer(driver);
    if (!layer.waitForDevice()) {
        std::puts("the emulated bridge was not offered");
        return;
    }
    for (const bool write : {false, true}) {
        const std::vector<double> us = roundTripMicroseconds(driver, layer.handle, write, 2000);
        if (us.empty()) {
            std::puts("transfer failed");
            return;
        }
        printMicroseconds(write ? "register write (request + reply)" : "register read (request + reply)", us);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (!qgetenv("LD_PRELOAD").contains("libumockdev-preload")) {
        std::fputs("Run this under umockdev-wrapper.\n", stderr);
        return 77;
    }
    QCoreApplication app(argc, argv);
    roundTrips();
    idleCpu();
    return 0;
}
