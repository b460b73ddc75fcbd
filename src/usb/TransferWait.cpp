#include "usb/TransferWait.h"

#include "usb/UsbDriver.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QTimer>

namespace regbench::usb {

TransferEnd::TransferEnd() : waiter_(QAbstractEventDispatcher::instance()) {}

void TransferEnd::finish(std::uint32_t status) {
    // Copied first: once the status is set, the waiting thread may free this object.
    QAbstractEventDispatcher* const waiter = waiter_;
    {
        const std::lock_guard lock(mutex_);
        if (status_)
            return;
        status_ = status;
        ended_.notify_all();
    }
    // Thread-safe; the waiting thread reads the status under the mutex, not through the wake-up.
    if (waiter != nullptr)
        waiter->wakeUp();
}

bool TransferEnd::awaitBlocking(std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return ended_.wait_for(lock, limit, [this] { return status_.has_value(); });
}

std::optional<std::uint32_t> TransferEnd::status() const {
    const std::lock_guard lock(mutex_);
    return status_;
}

std::uint32_t waitForTransfer(const TransferEnd& end, std::uint32_t timeoutMs) {
    bool expired = false;
    QTimer timer;
    if (timeoutMs > 0) {
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [&expired] { expired = true; });
        timer.start(static_cast<int>(std::min<std::uint32_t>(timeoutMs, INT32_MAX)));
    }
    // An event loop of our own would return at once while the application quits; this loop does not, so a
    // cancel during shut-down still ends the wait the way it ends every other.
    for (;;) {
        if (const std::optional<std::uint32_t> status = end.status())
            return *status;
        if (expired)
            return UsbStatus::Timeout;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

} // namespace regbench::usb
