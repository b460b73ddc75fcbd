#pragma once

#include "usb/UsbDriver.h"

#include <cstdint>
#include <vector>

namespace regbench::usb {

class BridgeBus;

// The bridge's side of its protocol: a request is decoded, carried out as one transaction on the bus at the
// address it names and answered with the reply the bridge sends; where no chip answers, the reply says "no
// acknowledge". Anything but a well-formed read or write is answered with the general error, and nothing
// goes on the bus for it: a read's address byte must have bit 0 set and a write's clear, and an address
// that I2C reserves (below 0x08 or above 0x77) is never put on the bus.
namespace BridgeService {

struct Outcome {
    std::vector<std::uint8_t> reply;
    bool busGone = false; // no reply then: the bus has left
};

Outcome serve(BridgeBus& bus, const std::vector<std::uint8_t>& request);

// The device-information record of a bridge: one interface whose active setting has the request and reply
// pipes, both bulk.
DeviceInfo describe(std::uint16_t vendorId, std::uint16_t productId);

} // namespace BridgeService

} // namespace regbench::usb
