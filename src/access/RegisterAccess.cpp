#include "access/RegisterAccess.h"

#include "access/BridgeReply.h"
#include "access/BridgeRequest.h"
#include "bridge/PipeTransfer.h"
#include "common/HexText.h"
#include "usb/BridgeProtocol.h"

namespace regbench::access {

using common::HexText;

namespace {

QString outcomeLine(const QString& verb, std::uint8_t address, bool transferred, int value,
                    std::uint8_t replyStatus) {
    const QString head = verb + QStringLiteral(" register ") + HexText::byteText(address);
    if (!transferred) {
        return head + QStringLiteral(" failed: USB transfer error");
    }
    switch (BridgeReply::decodeStatus(replyStatus)) {
    case ReplyStatus::GeneralI2cError:
        return head + QStringLiteral(" failed: General I2C error");
    case ReplyStatus::NoAck:
        return head + QStringLiteral(" failed: No ACK from slave. Check power and connections.");
    case ReplyStatus::Success:
        break;
    }
    return head + QStringLiteral(" = ") + HexText::byteText(value) + QStringLiteral(" successful");
}

} // namespace

RegisterAccess::RegisterAccess(bridge::PipeTransfer& pipes) : pipes_(pipes) {}

bool RegisterAccess::exchange(const std::vector<std::uint8_t>& request, std::int32_t replyLength,
                              std::size_t replyBufferSize, std::uint32_t replyMinimum) {
    pipes_.TransferPipe = usb::BridgeProtocol::RequestPipe;
    pipes_.TransferLength = static_cast<std::int32_t>(request.size());
    pipes_.TransferBuffer = request;
    if (!pipes_.WritePipe()) {
        return false; // a request that never left can have no reply worth waiting for
    }
    pipes_.TransferPipe = usb::BridgeProtocol::ReplyPipe;
    pipes_.TransferLength = replyLength;
    pipes_.TransferBuffer.assign(replyBufferSize, 0);
    return pipes_.ReadPipe() && pipes_.BytesTransferred >= replyMinimum;
}

AccessOutcome RegisterAccess::read(std::uint8_t address) {
    AccessOutcome outcome;
    const bool transferred = exchange(BridgeRequest::read(address), BridgeReply::ReadReplyLength,
                                      BridgeReply::ReadReplyBufferSize, BridgeReply::ReadReplyMinimum);
    const BridgeReply reply = BridgeReply::fromBuffer(pipes_.TransferBuffer);
    outcome.succeeded = transferred && reply.status() == ReplyStatus::Success;
    outcome.value = reply.Data;
    outcome.line = outcomeLine(QStringLiteral("Reading"), address, transferred, reply.Data, reply.Status);
    return outcome;
}

AccessOutcome RegisterAccess::write(std::uint8_t address, int value) {
    AccessOutcome outcome;
    if (value < 0 || value > 0xFF) {
        outcome.line = QStringLiteral("Writing register ") + HexText::byteText(address) +
                       QStringLiteral(" failed: value does not fit in a byte");
        return outcome;
    }
    outcome.value = static_cast<std::uint8_t>(value);
    const bool transferred =
        exchange(BridgeRequest::write(address, outcome.value), BridgeReply::WriteReplyLength,
                 BridgeReply::WriteReplyBufferSize, BridgeReply::WriteReplyMinimum);
    const BridgeReply reply = BridgeReply::fromBuffer(pipes_.TransferBuffer);
    outcome.succeeded = transferred && reply.status() == ReplyStatus::Success;
    outcome.line = outcomeLine(QStringLiteral("Writing"), address, transferred, outcome.value, reply.Status);
    return outcome;
}

} // namespace regbench::access
