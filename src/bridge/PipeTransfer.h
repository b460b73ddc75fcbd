#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace regbench::common {
class LogSink;
}

namespace regbench::bridge {

class BridgeLink;

// One transfer on a pipe of the held bridge, with the parameters the caller sets before each call.
class PipeTransfer {
public:
    static constexpr std::uint32_t TimeoutMs = 30000;

    PipeTransfer(BridgeLink& link, common::LogSink& log);

    std::uint32_t TransferPipe = 0;
    std::int32_t TransferLength = 0;
    std::vector<std::uint8_t> TransferBuffer;
    // What the layer reported as moved by the last transfer; 0 when the transfer was not made.
    std::uint32_t BytesTransferred = 0;

    // Each returns true only when the transfer was made and completed. A bridge whose current setting has no
    // pipes leaves LastStatus at 0 but sends nothing, so callers must not take LastStatus alone as success.
    bool WritePipe();
    bool ReadPipe();

    BridgeLink& link() const { return link_; }

    // Told true before each transfer and false once it has ended. The window goes on handling events while a
    // transfer waits, and holds back the user's input meanwhile, so that no second transfer starts.
    std::function<void(bool transferring)> onTransferring;

private:
    bool transfer(bool read);

    BridgeLink& link_;
    common::LogSink& log_;
};

} // namespace regbench::bridge
