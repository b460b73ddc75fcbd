#include "usb/HandOver.h"

#include <QSocketNotifier>

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace regbench::usb {

HandOver::HandOver() : wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    notifier_ = new QSocketNotifier(wakeFd_, QSocketNotifier::Read);
    QObject::connect(notifier_, &QSocketNotifier::activated, notifier_, [this] { runQueued(); });
}

HandOver::~HandOver() {
    *alive_ = false;
    notifier_->setEnabled(false);
    // Deleting the notifier from inside its own signal would pull the floor from under the event loop.
    if (running_)
        notifier_->deleteLater();
    else
        delete notifier_;
    ::close(wakeFd_);
}

void HandOver::post(std::function<void()> work) {
    {
        const std::lock_guard lock(mutex_);
        queue_.push_back(std::move(work));
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(wakeFd_, &one, sizeof one);
}

void HandOver::hold(bool held) {
    // The eventfd stays readable while work waits, so re-enabling the notifier is enough to run it.
    notifier_->setEnabled(!held);
}

void HandOver::runQueued() {
    std::uint64_t count = 0;
    [[maybe_unused]] const auto read = ::read(wakeFd_, &count, sizeof count);
    std::deque<std::function<void()>> work;
    {
        const std::lock_guard lock(mutex_);
        work.swap(queue_);
    }
    const auto alive = alive_;
    running_ = true;
    for (auto& item : work) {
        item();
        if (!*alive)
            return;
    }
    running_ = false;
}

} // namespace regbench::usb
