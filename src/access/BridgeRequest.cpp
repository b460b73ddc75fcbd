#include "access/BridgeRequest.h"

#include "usb/BridgeProtocol.h"

namespace regbench::access {

std::vector<std::uint8_t> BridgeRequest::read(std::uint8_t chip, std::uint8_t address) {
    const auto bytes = usb::BridgeProtocol::readRequest(chip, address);
    return {bytes.begin(), bytes.end()};
}

std::vector<std::uint8_t> BridgeRequest::write(std::uint8_t chip, std::uint8_t address, std::uint8_t value) {
    const auto bytes = usb::BridgeProtocol::writeRequest(chip, address, value);
    return {bytes.begin(), bytes.end()};
}

} // namespace regbench::access
