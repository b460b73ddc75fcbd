// Figures for the i2c-dev backend against umockdev-emulated adapters. Run: umockdev-wrapper ./bench_i2cdev
#include "BenchSupport.h"
#include "EmulatedAdapter.h"
#include "usb/BridgeProtocol.h"
#include "usb/i2cdev/I2cBus.h"
#include "usb/i2cdev/I2cDevDriver.h"

#include <QCoreApplication>

#include <fcntl.h>

#include <chrono>
#include <cstdio>
#include <vector>

using namespace regbench::bench;
using regbench::tests::EmulatedAdapter;
using regbench::usb::i2cdev::I2cDevDriver;

namespace {

void roundTrips(bool plainI2c) {
    EmulatedAdapter adapter;
    adapter.add();
    adapter.edit([plainI2c](auto& bus) { bus.plainI2c = plainI2c; });
    I2cDevDriver driver;
    printRoundTrips(driver, plainI2c ? ", I2C_RDWR" : ", SMBus byte data");
}

// The same read straight on the calling thread: what the hand-over to the I/O thread costs is the difference.
void directReads() {
    EmulatedAdapter adapter;
    adapter.add();
    regbench::usb::i2cdev::I2cBus bus(regbench::usb::i2cdev::FileDescriptor(::open("/dev/i2c-0", O_RDWR)));
    const std::vector<double> us = timeEach(
        2000,
        [&bus](int i) {
            std::uint8_t value = 0;
            return bus.readRegister(regbench::common::ChipAddress::Default, static_cast<std::uint8_t>(i),
                                    value) == 0;
        },
        50);
    if (us.empty())
        std::puts("direct read failed");
    else
        printMicroseconds("register read, I2C_RDWR on the calling thread", us);
}

void hotPlug() {
    EmulatedAdapter adapter;
    I2cDevDriver driver;
    OpenLayer layer(driver);
    std::vector<double> us;
    for (int i = 0; i < 20; ++i) {
        layer.handle = 0;
        const auto start = std::chrono::steady_clock::now();
        adapter.add();
        if (!layer.waitForDevice()) {
            std::puts("an adapter plugged in was not offered");
            return;
        }
        us.push_back(std::chrono::duration<double, std::micro>(layer.attachedAt - start).count());
    }
    printMicroseconds("plugged in -> attach callback (4-device chain)", us);
}

void idleCpu(bool withAdapter) {
    EmulatedAdapter adapter;
    if (withAdapter)
        adapter.add();
    I2cDevDriver driver;
    OpenLayer layer(driver);
    if (withAdapter) {
        regbench::usb::DeviceInfo info; // opens the node and starts its I/O thread
        if (!layer.waitForDevice() || driver.WDU_GetDeviceInfo(layer.handle, &info) != 0) {
            std::puts("the emulated adapter could not be opened");
            return;
        }
    }
    printIdleCpu(withAdapter ? "adapter held and open:" : "no adapter:");
}

} // namespace

int main(int argc, char** argv) {
    if (outsideUmockdev())
        return 77;
    QCoreApplication app(argc, argv);
    roundTrips(true);
    roundTrips(false);
    directReads();
    hotPlug();
    idleCpu(false);
    idleCpu(true);
    return 0;
}
