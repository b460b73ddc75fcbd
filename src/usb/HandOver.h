#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace regbench::common {
class FdWatch;
}

namespace regbench::usb {

// Runs work on the thread that created it, from that thread's Qt event loop, never inside the call that
// posted it. post() may be called from any thread: the work waits in a queue under a mutex and an eventfd
// wakes the owning thread, so every hand-over is a lock that a thread checker can follow. Work runs in the
// order posted. Work still queued when the hand-over is destroyed is released there, unrun, so that nothing
// it holds outlives what the owner tears down next; destroying it from inside a work item is allowed and
// drops the rest. Destroy it only once no other thread can post.
class HandOver {
public:
    // Null when the kernel gives no eventfd (no file descriptor left, say): no work would ever run then.
    static std::unique_ptr<HandOver> create();
    ~HandOver();
    HandOver(const HandOver&) = delete;
    HandOver& operator=(const HandOver&) = delete;

    void post(std::function<void()> work);
    // While held, posted work waits in the queue and runs once released: the layer's device events never
    // arrive inside one of its calls, even one that handles events while it waits.
    void hold(bool held);

private:
    explicit HandOver(int wakeFd);
    void wake();
    void runQueued();

    std::mutex mutex_;
    std::deque<std::function<void()>> queue_; // guarded by mutex_
    int wakeFd_;
    std::unique_ptr<common::FdWatch> watch_;
    bool held_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace regbench::usb
