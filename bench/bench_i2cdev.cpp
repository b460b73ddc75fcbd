// Figures for the i2c-dev backend against umockdev-emulated adapters. Run: umockdev-wrapper ./bench_i2cdev
#include "BenchSupport.h"
#include "EmulatedAdapter.h"
#include "usb/BridgeProtocol.h"
#include "usb/i2cdev/I2cBus.h"
#include "usb/i2cdev/I2cDevDriver.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <fcntl.h>

#include <chrono>
#include <cstdio>
#include <vector>

using namespace regbench::usb;
using regbench::bench::cpuMilliseconds;
using regbench::bench::printMicroseconds;
using regbench::bench::roundTripMicroseconds;
using regbench::bench::runEventLoop;
using regbench::tests::EmulatedAdapter;
using regbench::usb::i2cdev::I2cDevDriver;
using Clock = std::chrono::steady_clock;

namespace {

// A driver that takes every adapter offered and remembers when the last offer came.
struct Session {
    explicit Session(I2cDevDriver& d) : driver(d) {
        EventTable table;
        table.AttachCallback = [this](std::uint32_t h, const DeviceInfo&, void*) {
            handle = h;
            attachedAt = Clock::now();
            return true;
        };
        table.DetachCallback = [](std::uint32_t, void*) {};
        driver.WDU_VB_Init(&driverHandle, nullptr, 0, table, 1, nullptr);
    }
    ~Session() { driver.WDU_VB_Uninit(driverHandle); }
    bool waitForAdapter() {
        const QDeadlineTimer deadline(5000);
        while (handle == 0 && !deadline.hasExpired())
            runEventLoop(1);
        return handle != 0;
    }

    I2cDevDriver& driver;
    std::uint32_t driverHandle = 0;
    std::uint32_t handle = 0;
    Clock::time_point attachedAt;
};

void roundTrips(bool plainI2c) {
    EmulatedAdapter adapter;
    adapter.add();
    adapter.edit([plainI2c](EmulatedAdapter::Bus& bus) { bus.plainI2c = plainI2c; });
    I2cDevDriver driver;
    Session session(driver);
    if (!session.waitForAdapter()) {
        std::puts("the emulated adapter was not offered");
        return;
    }
    for (const bool write : {false, true}) {
        const std::vector<double> us = roundTripMicroseconds(driver, session.handle, write, 2000);
        if (us.empty()) {
            std::puts("transfer failed");
            return;
        }
        const QByteArray name = QByteArray(write ? "register write" : "register read") +
                                (plainI2c ? ", I2C_RDWR" : ", SMBus byte data") + " (request + reply)";
        printMicroseconds(name.constData(), us);
    }
}

// The same read straight on the calling thread: what the hand-over to the I/O thread costs is the difference.
void directReads() {
    EmulatedAdapter adapter;
    adapter.add();
    regbench::usb::i2cdev::I2cBus bus(regbench::usb::i2cdev::FileDescriptor(::open("/dev/i2c-0", O_RDWR)),
                                      regbench::usb::BridgeProtocol::ChipAddress);
    std::vector<double> us;
    for (int i = 0; i < 2050; ++i) {
        std::uint8_t value = 0;
        const auto start = Clock::now();
        if (bus.readRegister(static_cast<std::uint8_t>(i), value) != 0) {
            std::puts("direct read failed");
            return;
        }
        if (i >= 50)
            us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    printMicroseconds("register read, I2C_RDWR on the calling thread", us);
}

void hotPlug() {
    EmulatedAdapter adapter;
    I2cDevDriver driver;
    Session session(driver);
    std::vector<double> us;
    for (int i = 0; i < 20; ++i) {
        session.handle = 0;
        const auto start = Clock::now();
        adapter.add();
        if (!session.waitForAdapter()) {
            std::puts("an adapter plugged in was not offered");
            return;
        }
        us.push_back(std::chrono::duration<double, std::micro>(session.attachedAt - start).count());
    }
    printMicroseconds("plugged in -> attach callback (4-device chain)", us);
}

void idleCpu(bool withAdapter) {
    EmulatedAdapter adapter;
    if (withAdapter)
        adapter.add();
    I2cDevDriver driver;
    Session session(driver);
    if (withAdapter) {
        DeviceInfo info; // opens the node and starts its I/O thread
        if (!session.waitForAdapter() || driver.WDU_GetDeviceInfo(session.handle, &info) != 0) {
            std::puts("the emulated adapter could not be opened");
            return;
        }
    }
    constexpr int IdleMs = 5000;
    const double before = cpuMilliseconds();
    runEventLoop(IdleMs);
    const double used = cpuMilliseconds() - before;
    std::printf("idle, %-44s CPU %.1f ms in %d s (%.3f %% of one core)\n",
                withAdapter ? "adapter held and open:" : "no adapter:", used, IdleMs / 1000,
                used / IdleMs * 100.0);
}

} // namespace

int main(int argc, char** argv) {
    if (!qgetenv("LD_PRELOAD").contains("libumockdev-preload")) {
        std::fputs("Run this under umockdev-wrapper.\n", stderr);
        return 77;
    }
    QCoreApplication app(argc, argv);
    roundTrips(true);
    roundTrips(false);
    directReads();
    hotPlug();
    idleCpu(false);
    idleCpu(true);
    return 0;
}
