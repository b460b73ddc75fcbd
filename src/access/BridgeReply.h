#pragma once

#include "usb/BridgeProtocol.h"

#include <cstdint>
#include <vector>

namespace regbench::access {

enum class ReplyStatus { Success, GeneralI2cError, NoAck };

// The bridge's answer to one request: a status byte, then (after a read) the register's value.
class BridgeReply {
public:
    static constexpr std::int32_t ReadReplyLength = 3;
    static constexpr std::size_t ReadReplyBufferSize = 3;
    static constexpr std::int32_t WriteReplyLength = 4;
    static constexpr std::size_t WriteReplyBufferSize = 10;
    // What a reply must hold to be taken: status and data after a read, the status after a write.
    static constexpr std::uint32_t ReadReplyMinimum = usb::BridgeProtocol::ReadReplyBytes;
    static constexpr std::uint32_t WriteReplyMinimum = usb::BridgeProtocol::WriteReplyBytes;

    std::uint8_t Status = 0;
    std::uint8_t Data = 0;

    static BridgeReply fromBuffer(const std::vector<std::uint8_t>& buffer);
    static ReplyStatus decodeStatus(std::uint8_t status);
    ReplyStatus status() const { return decodeStatus(Status); }
};

} // namespace regbench::access
