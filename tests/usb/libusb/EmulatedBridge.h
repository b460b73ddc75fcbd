#pragma once

#include "support/Emulated.h"
#include "usb/BridgeIds.h"

#include <array>
#include <cstdint>

namespace regbench::tests {

struct BridgeDevice;

// What a test sets and reads of one bridge.
struct BridgeState {
    std::array<std::uint8_t, 256> registers{};
    bool claimed = false;     // its interface is claimed
    bool claimTaken = false;  // another program holds its interface: claims fail with EBUSY
    std::uint8_t chip = 0x1C; // the address the chip behind it answers at
};

// USB-to-I2C bridges for tests and benchmarks of the libusb backend. Each bridge has one interface with bulk
// endpoints 0x02 (requests) and 0x82 (replies) and answers the register protocol: 01 39 a -> [status, value
// of a]; 00 38 a v -> [status], writing v to a. A held bridge takes requests, but their replies wait for the
// release (a later request drops an unread one); an unplugged one ends its pending transfers with -ESHUTDOWN.
class EmulatedBridge : public Emulated<BridgeDevice, BridgeState> {
public:
    // Plugs in a new bridge and returns its number (0, 1, ...), which the calls below take. A bridge that is
    // plugged in again is a new one, as it is to the host.
    int add(std::uint16_t vendorId = usb::BridgeVendorId, std::uint16_t productId = usb::BridgeProductId);
};

} // namespace regbench::tests
