#pragma once

#include "support/Emulated.h"

#include <QStringList>

#include <array>
#include <cstdint>

namespace regbench::tests {

struct AdapterDevice;

// What a test sets and reads of one adapter's bus.
struct AdapterBus {
    std::array<std::uint8_t, 256> registers{};
    bool plainI2c = true;     // false: I2C_FUNCS offers the SMBus byte-data calls only
    int fault = 0;            // every transaction fails with this errno
    std::uint8_t chip = 0x1C; // the address its chip answers at
    bool claimed = false;     // a kernel driver is bound to the chip: I2C_SLAVE answers EBUSY, as the kernel
    // Each transaction as it went on the bus: "w1c 05, r1c[1]" (a read), "w1c 05 3c" (a write).
    QStringList transactions;
};

// I2C adapters, each with a chip on its bus (at 0x1C unless set): sysfs entries under the devices and drivers
// that provide it, and a /dev/i2c-N node whose I2C_FUNCS, I2C_SLAVE, I2C_RDWR and I2C_SMBUS ioctls are
// answered as the kernel and the chip would. Adapters are numbered as their buses, 0, 1, ... A held adapter
// keeps transactions waiting in their ioctl and carries them out when released; held and later transactions
// of a removed one end with ENODEV.
class EmulatedAdapter : public Emulated<AdapterDevice, AdapterBus> {
public:
    // What provides the adapter: a USB-I2C adapter's driver, a TV tuner (on the USB device itself), a video
    // grabber, a USB driver of no adapter, a multiplexer on an adapter's bus, a PC's SMBus.
    enum class Parent { TinyUsb, Cp2112, TvTuner, VideoCapture, OtherUsb, Multiplexer, Pci };
    static constexpr std::uint16_t VendorId = 0x1209;
    static constexpr std::uint16_t ProductId = 0x7A1C; // plus the bus number

    // marked sets the udev property REGBENCH_I2C=1. Returns the bus number.
    int add(Parent parent = Parent::TinyUsb, bool marked = false);
    // Sets the mark later, with the "change" event that `udevadm trigger` sends.
    void mark(int bus);
};

} // namespace regbench::tests
