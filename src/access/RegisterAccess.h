#pragma once

#include "common/ChipAddress.h"

#include <QString>

#include <cstdint>
#include <vector>

namespace regbench::bridge {
class PipeTransfer;
}

namespace regbench::access {

// How one register access ended; each failure has its own log line.
enum class AccessStatus {
    Success,
    NotAttached,     // no bridge: nothing was sent
    ValueTooLarge,   // a write of more than a byte: nothing was sent
    UnknownName,     // no register of the map has the name asked for: nothing was sent
    TransferError,   // a transfer was not made, or the reply was short
    GeneralI2cError, // the bridge's status said so
    NoAck,
};

// What one register access came to.
struct AccessOutcome {
    AccessStatus status = AccessStatus::TransferError;
    bool succeeded = false; // both transfers made, reply long enough, no error bit in its status
    std::uint8_t value = 0; // the value read or sent; a read's value counts only when it succeeded
    QString line;           // the log line that reports the access
};

// One request and its reply for a single register. The pipe layer logs its own failures; the caller
// writes the outcome's line once it has applied what it takes from the outcome.
class RegisterAccess {
public:
    explicit RegisterAccess(bridge::PipeTransfer& pipes);

    // The chip's 7-bit I2C address that requests name.
    void setChipAddress(std::uint8_t chip) { chip_ = chip; }
    std::uint8_t chipAddress() const { return chip_; }

    AccessOutcome read(std::uint8_t address);
    // The value is checked here, so that nothing over a byte can ever go out truncated.
    AccessOutcome write(std::uint8_t address, int value);

private:
    bool exchange(const std::vector<std::uint8_t>& request, std::int32_t replyLength,
                  std::size_t replyBufferSize, std::uint32_t replyMinimum);

    bridge::PipeTransfer& pipes_;
    std::uint8_t chip_ = common::ChipAddress::Default;
};

} // namespace regbench::access
