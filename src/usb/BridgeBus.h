#pragma once

#include <cstdint>

namespace regbench::usb {

// The I2C bus behind the bridge, as the bridge's side reaches a chip on it: register reads and writes
// addressed to the chip at a 7-bit address. Each returns 0 or the errno of the failure: ENXIO or EREMOTEIO
// when no chip acknowledged, ENODEV when the bus itself has gone, anything else for another bus error.
class BridgeBus {
public:
    virtual ~BridgeBus() = default;
    virtual int readRegister(std::uint8_t chip, std::uint8_t reg, std::uint8_t& value) = 0;
    virtual int writeRegister(std::uint8_t chip, std::uint8_t reg, std::uint8_t value) = 0;
};

} // namespace regbench::usb
