// Figures for the libusb backend against the umockdev-emulated bridge. Run: umockdev-wrapper ./bench_libusb
#include "BenchSupport.h"
#include "EmulatedBridge.h"
#include "usb/libusb/LibusbDriver.h"

#include <QCoreApplication>

#include <cstdio>

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
    printRoundTrips(driver, "");
}

} // namespace

int main(int argc, char** argv) {
    if (outsideUmockdev())
        return 77;
    QCoreApplication app(argc, argv);
    roundTrips();
    idleCpu();
    return 0;
}
