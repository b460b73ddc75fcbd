#pragma once

#include <cstdint>
#include <vector>

namespace regbench::usb::i2cdev {

class I2cBus;

// The bridge's protocol, served on an I2C bus: a request is decoded, carried out as one bus transaction and
// answered with the reply the bridge would send.
//   read  01 39 a   -> status, value (0xFF when the chip gave none)
//   write 00 38 a v -> status
//   anything else   -> 0x80, with nothing sent on the bus
// Status 0x00 success, 0x40 the chip did not acknowledge, 0x80 any other bus error.
namespace BridgeService {

inline constexpr std::uint8_t ChipAddress = 0x1C;

struct Outcome {
    std::vector<std::uint8_t> reply;
    bool adapterGone = false; // no reply then: the adapter has left
};

Outcome serve(I2cBus& bus, const std::vector<std::uint8_t>& request);

} // namespace BridgeService

} // namespace regbench::usb::i2cdev
