#include "access/BridgeReply.h"

namespace regbench::access {

BridgeReply BridgeReply::fromBuffer(const std::vector<std::uint8_t>& buffer) {
    BridgeReply reply;
    if (!buffer.empty()) {
        reply.Status = buffer[0];
    }
    if (buffer.size() > 1) {
        reply.Data = buffer[1];
    }
    return reply;
}

ReplyStatus BridgeReply::decodeStatus(std::uint8_t status) {
    if ((status & usb::BridgeProtocol::StatusGeneralError) != 0) {
        return ReplyStatus::GeneralI2cError;
    }
    if ((status & usb::BridgeProtocol::StatusNoAck) != 0) {
        return ReplyStatus::NoAck;
    }
    return ReplyStatus::Success;
}

} // namespace regbench::access
