#pragma once

#include <cstdint>
#include <vector>

namespace regbench::access {

// A request to the bridge: one register, and in a write one data byte, of the chip at I2C address 0x1C.
class BridgeRequest {
public:
    static constexpr std::uint8_t ReadOpcode = 0x01;
    static constexpr std::uint8_t WriteOpcode = 0x00;
    static constexpr std::uint8_t SlaveAddress = 0x1C;
    static constexpr std::uint8_t RequestPipe = 0x02;

    static std::vector<std::uint8_t> read(std::uint8_t address);
    static std::vector<std::uint8_t> write(std::uint8_t address, std::uint8_t value);
};

} // namespace regbench::access
