#pragma once

#include "usb/UsbDriver.h"

#include <cstdint>
#include <vector>

namespace regbench::usb {

class BridgeBus;

// The bridge's side of its protocol: a request is decoded, carried out as one transaction on the bus and
// answered with the reply the bridge sends. Anything but a well-formed read or write of the chip is answered
// with the general error, and nothing goes on the bus for it: the bridge serves the one chip, and a
// transaction for another address could reach a device that is not ours to touch.
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
