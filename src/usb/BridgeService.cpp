#include "usb/BridgeService.h"

#include "usb/BridgeBus.h"
#include "usb/BridgeProtocol.h"

#include "common/ChipAddress.h"

#include <cerrno>

namespace regbench::usb::BridgeService {

namespace {

constexpr std::uint8_t VendorSpecificClass = 0xFF;

std::uint8_t replyStatus(int error) {
    switch (error) {
    case 0:
        return BridgeProtocol::StatusOk;
    case ENXIO: // what most bus drivers return for an address or data byte without acknowledge
    case EREMOTEIO:
        return BridgeProtocol::StatusNoAck;
    default:
        return BridgeProtocol::StatusGeneralError;
    }
}

// The 7-bit address of a request's address byte with the read bit given, or 0 for none a chip can have.
std::uint8_t chipOf(std::uint8_t addressByte, bool read) {
    const auto chip = static_cast<std::uint8_t>(addressByte >> 1);
    const bool usable = chip >= common::ChipAddress::Lowest && chip <= common::ChipAddress::Highest;
    return usable && (addressByte & 1) == (read ? 1 : 0) ? chip : 0;
}

} // namespace

Outcome serve(BridgeBus& bus, const std::vector<std::uint8_t>& request) {
    using namespace BridgeProtocol;
    Outcome outcome;
    int error = 0;
    const bool read = request.size() == ReadRequestLength && request[0] == ReadOpcode;
    const bool write = request.size() == WriteRequestLength && request[0] == WriteOpcode;
    const std::uint8_t chip = read || write ? chipOf(request[1], read) : 0;
    if (read && chip != 0) {
        std::uint8_t value = IdleBus;
        error = bus.readRegister(chip, request[2], value);
        outcome.reply = {replyStatus(error), error == 0 ? value : IdleBus};
    } else if (write && chip != 0) {
        error = bus.writeRegister(chip, request[2], request[3]);
        outcome.reply = {replyStatus(error)};
    } else {
        outcome.reply = {StatusGeneralError};
    }
    outcome.busGone = error == ENODEV;
    if (outcome.busGone)
        outcome.reply.clear();
    return outcome;
}

DeviceInfo describe(std::uint16_t vendorId, std::uint16_t productId) {
    DeviceInfo info;
    info.Descriptor.idVendor = vendorId;
    info.Descriptor.idProduct = productId;
    InterfaceInfo interface;
    interface.ActiveAltSetting.Descriptor.bNumEndpoints = 2;
    interface.ActiveAltSetting.Descriptor.bInterfaceClass = VendorSpecificClass;
    interface.ActiveAltSetting.Pipes = {
        {BridgeProtocol::RequestPipe, BridgeProtocol::MaxPacketSize, PipeType::Bulk, 0},
        {BridgeProtocol::ReplyPipe, BridgeProtocol::MaxPacketSize, PipeType::Bulk, 0}};
    info.ActiveInterfaces.push_back(std::move(interface));
    return info;
}

} // namespace regbench::usb::BridgeService
