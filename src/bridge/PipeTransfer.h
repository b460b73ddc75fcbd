#pragma once

#include <cstdint>
#include <vector>

namespace regbench::common {
class LogSink;
}

namespace regbench::bridge {

class BridgeLink;

// One transfer on a pipe of the held bridge, with the parameters the caller sets before each call. The layer
// fills the buffer while the transfer waits in the event loop; the transfer works on a buffer of its own
// meanwhile and hands it back in TransferBuffer when it returns, so nothing that runs during the wait (and
// sets the parameters for a transfer of its own) can move or free the memory the reply goes to.
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

private:
    bool transfer(bool read);

    BridgeLink& link_;
    common::LogSink& log_;
};

} // namespace regbench::bridge
