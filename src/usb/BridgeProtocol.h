#pragma once

#include <array>
#include <cstdint>

// The bridge's wire format, for both of its sides: the program that sends requests and the bridge (real,
// simulated or served on an I2C adapter) that answers them. One request on the request pipe is answered by
// one reply on the reply pipe. The second byte is the chip's address byte on the bus: its 7-bit address in
// bits 7..1 and bit 0 set to read (0x39 and 0x38 for the chip at 0x1C).
//   read  01 39 a   -> status, value of register a
//   write 00 38 a v -> status, after writing v to register a
namespace regbench::usb::BridgeProtocol {

inline constexpr std::uint8_t RequestPipe = 0x02; // OUT endpoint 2
inline constexpr std::uint8_t ReplyPipe = 0x82;   // IN endpoint 2
inline constexpr std::uint32_t MaxPacketSize = 64;

constexpr std::uint8_t writeAddressByte(std::uint8_t chip) {
    return static_cast<std::uint8_t>(chip << 1);
}
constexpr std::uint8_t readAddressByte(std::uint8_t chip) {
    return static_cast<std::uint8_t>(writeAddressByte(chip) | 1);
}

inline constexpr std::uint8_t ReadOpcode = 0x01;
inline constexpr std::uint8_t WriteOpcode = 0x00;
inline constexpr std::size_t ReadRequestLength = 3;
inline constexpr std::size_t WriteRequestLength = 4;

// The reply's first byte. Bit 7 wins over bit 6; bits 5..0 carry no meaning.
inline constexpr std::uint8_t StatusOk = 0x00;
inline constexpr std::uint8_t StatusGeneralError = 0x80;
inline constexpr std::uint8_t StatusNoAck = 0x40;
// A read's reply carries the value after the status; a write's reply is the status alone.
inline constexpr std::uint32_t ReadReplyBytes = 2;
inline constexpr std::uint32_t WriteReplyBytes = 1;
// The value a read reply carries when no chip drove the bus: the pulled-up lines read as ones.
inline constexpr std::uint8_t IdleBus = 0xFF;

constexpr std::array<std::uint8_t, ReadRequestLength> readRequest(std::uint8_t chip, std::uint8_t address) {
    return {ReadOpcode, readAddressByte(chip), address};
}

constexpr std::array<std::uint8_t, WriteRequestLength> writeRequest(std::uint8_t chip, std::uint8_t address,
                                                                    std::uint8_t value) {
    return {WriteOpcode, writeAddressByte(chip), address, value};
}

} // namespace regbench::usb::BridgeProtocol
