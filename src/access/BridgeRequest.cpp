#include "access/BridgeRequest.h"

namespace regbench::access {

namespace {
// The slave address sits in bits 7..1; bit 0 is the I2C read/write bit.
constexpr std::uint8_t addressByte(bool read) {
    return static_cast<std::uint8_t>((BridgeRequest::SlaveAddress << 1) | (read ? 1 : 0));
}
} // namespace

std::vector<std::uint8_t> BridgeRequest::read(std::uint8_t address) {
    return {ReadOpcode, addressByte(true), address};
}

std::vector<std::uint8_t> BridgeRequest::write(std::uint8_t address, std::uint8_t value) {
    return {WriteOpcode, addressByte(false), address, value};
}

} // namespace regbench::access
