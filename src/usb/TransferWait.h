#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>

class QAbstractEventDispatcher;

namespace regbench::usb {

// The end of one transfer, shared between the thread that waits for it and whoever ends it: the backend's own
// thread, its emulation, or the waiting thread itself (a removal, WDU_VB_Uninit). The first status given
// counts; later ones are ignored, so a cancel racing a completion is harmless.
class TransferEnd {
public:
    // Made on the thread that will wait.
    TransferEnd();
    TransferEnd(const TransferEnd&) = delete;
    TransferEnd& operator=(const TransferEnd&) = delete;

    // Any thread.
    void finish(std::uint32_t status);
    std::optional<std::uint32_t> status() const;
    // Blocks the calling thread without handling events: only for a layer that is closing and must see a
    // cancelled transfer end before it frees what the transfer uses.
    bool awaitBlocking(std::chrono::milliseconds limit) const;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable ended_;
    std::optional<std::uint32_t> status_; // guarded by mutex_
    QAbstractEventDispatcher* const waiter_;
};

// Handles the calling thread's events until the transfer has ended or timeoutMs has passed (0: no limit), so
// that the window goes on painting and can be closed while a bridge keeps its reply. Returns the status the
// transfer ended with, or Timeout. The caller keeps the layer's device events from running meanwhile: they
// are promised never to arrive inside a call of the layer.
std::uint32_t waitForTransfer(const TransferEnd& end, std::uint32_t timeoutMs);

} // namespace regbench::usb
