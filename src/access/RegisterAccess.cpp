#include "access/RegisterAccess.h"

#include "access/BridgeReply.h"
#include "access/BridgeRequest.h"
#include "bridge/PipeTransfer.h"
#include "common/HexText.h"
#include "usb/BridgeProtocol.h"

namespace regbench::access {

using common::HexText;

namespace {

AccessStatus accessStatus(bool transferred, std::uint8_t replyStatus) {
    if (!transferred)
        return AccessStatus::TransferError;
    switch (BridgeReply::decodeStatus(replyStatus)) {
    case ReplyStatus::GeneralI2cError:
        return AccessStatus::GeneralI2cError;
    case ReplyStatus::NoAck:
        return AccessStatus::NoAck;
    case ReplyStatus::Success:
        break;
    }
    return AccessStatus::Success;
}

// Fills in the status and the line that reports it.
void conclude(AccessOutcome& outcome, const QString& verb, std::uint8_t address, bool transferred,
              std::uint8_t replyStatus) {
    outcome.status = accessStatus(transferred, replyStatus);
    outcome.succeeded = outcome.status == AccessStatus::Success;
    const QString head = verb + QStringLiteral(" register ") + HexText::byteText(address);
    switch (outcome.status) {
    case AccessStatus::TransferError:
        outcome.line = head + QStringLiteral(" failed: USB transfer error");
        break;
    case AccessStatus::GeneralI2cError:
        outcome.line = head + QStringLiteral(" failed: General I2C error");
        break;
    case AccessStatus::NoAck:
        outcome.line = head + QStringLiteral(" failed: No ACK from slave. Check power and connections.");
        break;
    default:
        outcome.line =
            head + QStringLiteral(" = ") + HexText::byteText(outcome.value) + QStringLiteral(" successful");
    }
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
    const bool transferred = exchange(BridgeRequest::read(chip_, address), BridgeReply::ReadReplyLength,
                                      BridgeReply::ReadReplyBufferSize, BridgeReply::ReadReplyMinimum);
    const BridgeReply reply = BridgeReply::fromBuffer(pipes_.TransferBuffer);
    outcome.value = reply.Data;
    conclude(outcome, QStringLiteral("Reading"), address, transferred, reply.Status);
    return outcome;
}

AccessOutcome RegisterAccess::write(std::uint8_t address, int value) {
    AccessOutcome outcome;
    if (value < 0 || value > 0xFF) {
        outcome.status = AccessStatus::ValueTooLarge;
        outcome.line = QStringLiteral("Writing register ") + HexText::byteText(address) +
                       QStringLiteral(" failed: value does not fit in a byte");
        return outcome;
    }
    outcome.value = static_cast<std::uint8_t>(value);
    const bool transferred =
        exchange(BridgeRequest::write(chip_, address, outcome.value), BridgeReply::WriteReplyLength,
                 BridgeReply::WriteReplyBufferSize, BridgeReply::WriteReplyMinimum);
    conclude(outcome, QStringLiteral("Writing"), address, transferred,
             BridgeReply::fromBuffer(pipes_.TransferBuffer).Status);
    return outcome;
}

} // namespace regbench::access
