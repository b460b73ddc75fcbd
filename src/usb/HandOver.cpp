#include "usb/HandOver.h"

#include "common/FdWatch.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace regbench::usb {

std::unique_ptr<HandOver> HandOver::create() {
    const int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    return fd < 0 ? nullptr : std::unique_ptr<HandOver>(new HandOver(fd));
}

HandOver::HandOver(int wakeFd)
    : wakeFd_(wakeFd), watch_(std::make_unique<common::FdWatch>(wakeFd, [this] { runQueued(); })) {}

HandOver::~HandOver() {
    *alive_ = false;
    watch_.reset(); // before the descriptor it watches goes
    ::close(wakeFd_);
    const std::lock_guard lock(mutex_);
    queue_.clear();
}

void HandOver::post(std::function<void()> work) {
    {
        const std::lock_guard lock(mutex_);
        queue_.push_back(std::move(work));
    }
    wake();
}

void HandOver::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(wakeFd_, &one, sizeof one);
}

void HandOver::hold(bool held) {
    held_ = held;
    watch_->setEnabled(!held);
    if (!held)
        wake(); // for what came meanwhile, or was left when the hold began inside a work item
}

// One item at a time off the queue: what is still queued when an item destroys the hand-over is released
// by the destructor, not by this frame after it.
void HandOver::runQueued() {
    std::uint64_t count = 0;
    [[maybe_unused]] const auto read = ::read(wakeFd_, &count, sizeof count);
    const auto alive = alive_;
    while (!held_) {
        std::function<void()> item;
        {
            const std::lock_guard lock(mutex_);
            if (queue_.empty())
                return;
            item = std::move(queue_.front());
            queue_.pop_front();
        }
        item();
        if (!*alive)
            return;
    }
}

} // namespace regbench::usb
