#pragma once

#include "usb/i2cdev/FileDescriptor.h"

#include <cstdint>

namespace regbench::usb::i2cdev {

// Register reads and writes of the chip at a 7-bit address on one open i2c-dev node, as combined I2C messages
// (a write of the register address, then a repeated start) where the adapter can do plain I2C, else as the
// SMBus byte-data calls. Each call returns 0 or the errno of the failure. Blocks for as long as the kernel's
// transfer takes.
class I2cBus {
public:
    explicit I2cBus(FileDescriptor node);

    int readRegister(std::uint8_t chip, std::uint8_t reg, std::uint8_t& value);
    int writeRegister(std::uint8_t chip, std::uint8_t reg, std::uint8_t value);

private:
    // Asks what the adapter can do, once, and claims the chip's address, each time; a failure is tried
    // again next time.
    int prepare(std::uint8_t chip);
    int smbusByteData(std::uint8_t readWrite, std::uint8_t reg, std::uint8_t& value);

    FileDescriptor node_;
    bool functionsKnown_ = false;
    bool plainI2c_ = false;
};

} // namespace regbench::usb::i2cdev
