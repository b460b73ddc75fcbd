#include "usb/i2cdev/BridgeService.h"

#include "usb/i2cdev/I2cBus.h"

#include <cerrno>

namespace regbench::usb::i2cdev::BridgeService {

namespace {

constexpr std::uint8_t OpWrite = 0x00;
constexpr std::uint8_t OpRead = 0x01;
constexpr std::uint8_t WriteAddressByte = ChipAddress << 1;
constexpr std::uint8_t ReadAddressByte = WriteAddressByte | 1;
constexpr std::uint8_t ReplyOk = 0x00;
constexpr std::uint8_t ReplyNoAck = 0x40;
constexpr std::uint8_t ReplyGeneralError = 0x80;
constexpr std::uint8_t IdleBus = 0xFF; // what the pulled-up bus reads when no chip drives it

std::uint8_t replyStatus(int error) {
    switch (error) {
    case 0:
        return ReplyOk;
    case ENXIO: // what most bus drivers return for an address or data byte without acknowledge
    case EREMOTEIO:
        return ReplyNoAck;
    default:
        return ReplyGeneralError;
    }
}

} // namespace

Outcome serve(I2cBus& bus, const std::vector<std::uint8_t>& request) {
    Outcome outcome;
    int error = 0;
    if (request.size() == 3 && request[0] == OpRead && request[1] == ReadAddressByte) {
        std::uint8_t value = IdleBus;
        error = bus.readRegister(request[2], value);
        outcome.reply = {replyStatus(error), error == 0 ? value : IdleBus};
    } else if (request.size() == 4 && request[0] == OpWrite && request[1] == WriteAddressByte) {
        error = bus.writeRegister(request[2], request[3]);
        outcome.reply = {replyStatus(error)};
    } else {
        outcome.reply = {ReplyGeneralError};
    }
    outcome.adapterGone = error == ENODEV;
    if (outcome.adapterGone)
        outcome.reply.clear();
    return outcome;
}

} // namespace regbench::usb::i2cdev::BridgeService
