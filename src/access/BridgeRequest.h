#pragma once

#include <cstdint>
#include <vector>

namespace regbench::access {

// A request to the bridge: one register, and in a write one data byte, of the chip at a 7-bit I2C address
// (usb/BridgeProtocol.h).
class BridgeRequest {
public:
    static std::vector<std::uint8_t> read(std::uint8_t chip, std::uint8_t address);
    static std::vector<std::uint8_t> write(std::uint8_t chip, std::uint8_t address, std::uint8_t value);
};

} // namespace regbench::access
