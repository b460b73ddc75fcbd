#pragma once

#include <cstdint>

namespace regbench::usb {

// The I2C bus behind the bridge, as the bridge's side reaches the chip on it: register reads and writes
// addressed to the chip. Each returns 0 or the errno of the failure: ENXIO or EREMOTEIO when the chip did not
// acknowledge, ENODEV when the bus itself has gone, anything else for another bus error.
class BridgeBus {
public:
    virtual ~BridgeBus() = default;
    virtual int readRegister(std::uint8_t reg, std::uint8_t& value) = 0;
    virtual int writeRegister(std::uint8_t reg, std::uint8_t value) = 0;
};

} // namespace regbench::usb
