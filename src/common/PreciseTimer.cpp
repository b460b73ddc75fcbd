#include "common/PreciseTimer.h"

#include "common/FdWatch.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

namespace regbench::common {

PreciseTimer::PreciseTimer(QObject* parent) : QObject(parent) {
    fd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd_ < 0) {
        fallback_.setTimerType(Qt::PreciseTimer);
        connect(&fallback_, &QTimer::timeout, this, &PreciseTimer::timeout);
        return;
    }
    watch_ = std::make_unique<common::FdWatch>(fd_, [this] { expired(); });
}

PreciseTimer::~PreciseTimer() {
    if (fd_ >= 0) {
        watch_.reset(); // before the descriptor it watches goes
        ::close(fd_);
    }
}

void PreciseTimer::setInterval(int milliseconds) {
    interval_ = std::max(milliseconds, 0);
    fallback_.setInterval(interval_);
    if (active_)
        start();
}

void PreciseTimer::start() {
    active_ = true;
    if (fd_ < 0) {
        fallback_.start();
        return;
    }
    arm(interval_);
}

void PreciseTimer::stop() {
    active_ = false;
    if (fd_ < 0) {
        fallback_.stop();
        return;
    }
    arm(-1);
}

// Setting the kernel timer also discards a tick that came but was not yet read, so a restarted timer never
// ticks early. A zero time would disarm it: 0 ms ticks as soon as the loop runs, as with QTimer.
void PreciseTimer::arm(int milliseconds) {
    itimerspec timing{};
    if (milliseconds >= 0) {
        const long nanoseconds = milliseconds > 0 ? milliseconds * 1'000'000L : 1;
        timing.it_value = {nanoseconds / 1'000'000'000L, nanoseconds % 1'000'000'000L};
        timing.it_interval = timing.it_value;
    }
    timerfd_settime(fd_, 0, &timing, nullptr);
}

// The loop may hand on a wake-up it saw before a restart discarded the tick behind it: with nothing left to
// read, that is no tick.
void PreciseTimer::expired() {
    std::uint64_t ticks = 0;
    if (::read(fd_, &ticks, sizeof ticks) != sizeof ticks || !active_)
        return;
    emit timeout();
}

} // namespace regbench::common
