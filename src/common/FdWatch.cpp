#include "common/FdWatch.h"

#include <QSocketNotifier>

#include <utility>

namespace regbench::common {

FdWatch::FdWatch(int fd, std::function<void()> onReadable)
    : notifier_(new QSocketNotifier(fd, QSocketNotifier::Read)), onReadable_(std::move(onReadable)) {
    QObject::connect(notifier_, &QSocketNotifier::activated, notifier_, [this] {
        const auto alive = alive_;
        const auto call = onReadable_; // outlives the watch when the call destroys it
        ++running_;
        call();
        if (*alive)
            --running_;
    });
}

void FdWatch::setEnabled(bool enabled) {
    notifier_->setEnabled(enabled);
}

FdWatch::~FdWatch() {
    *alive_ = false;
    notifier_->setEnabled(false);
    if (running_ > 0)
        notifier_->deleteLater();
    else
        delete notifier_;
}

} // namespace regbench::common
