#include "usb/BridgeService.h"

#include "usb/BridgeBus.h"
#include "usb/BridgeProtocol.h"

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

} // namespace

Outcome serve(BridgeBus& bus, const std::vector<std::uint8_t>& request) {
    using namespace BridgeProtocol;
    Outcome outcome;
    int error = 0;
    if (request.size() == ReadRequestLength && request[0] == ReadOpcode && request[1] == ChipReadAddress) {
        std::uint8_t value = IdleBus;
        error = bus.readRegister(request[2], value);
        outcome.reply = {replyStatus(error), error == 0 ? value : IdleBus};
    } else if (request.size() == WriteRequestLength && request[0] == WriteOpcode &&
               request[1] == ChipWriteAddress) {
        error = bus.writeRegister(request[2], request[3]);
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
