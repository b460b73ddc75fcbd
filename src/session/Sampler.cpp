#include "session/Sampler.h"

#include "common/PreciseTimer.h"
#include "session/Session.h"

#include <algorithm>

namespace regbench::session {

namespace {
constexpr qint64 NsPerMs = 1'000'000;
// The kernel timer ticks on its due times, never before; the margin only keeps a tick that the clocks see a
// hair early from counting as the previous due time.
constexpr qint64 EarlyMarginNs = NsPerMs / 2;
} // namespace

Sampler::Sampler(Session& session, QObject* parent)
    : QObject(parent), session_(session), timer_(std::make_unique<common::PreciseTimer>()) {
    connect(timer_.get(), &common::PreciseTimer::timeout, this, &Sampler::tick);
    connect(&session_, &Session::bridgeAttached, this, [this] {
        bridge_ = true;
        if (running_)
            resume();
    });
    connect(&session_, &Session::bridgeDetached, this, &Sampler::bridgeGone);
}

Sampler::~Sampler() {
    *alive_ = false;
}

void Sampler::setRegisters(std::vector<std::uint8_t> addresses) {
    registers_ = std::move(addresses);
}

void Sampler::setInterval(int milliseconds) {
    intervalMs_ = std::clamp(milliseconds, MinIntervalMs, MaxIntervalMs);
    if (running_ && bridge_)
        resume();
}

void Sampler::start() {
    if (!clock_.isValid())
        clock_.start();
    if (running_)
        return;
    running_ = true;
    bridge_ = session_.attached();
    if (bridge_)
        resume();
}

void Sampler::pause() {
    running_ = false;
    timer_->stop();
}

void Sampler::reset() {
    clock_.invalidate();
    samples_ = late_ = missed_ = 0;
    if (running_) {
        clock_.start();
        if (bridge_)
            resume();
    }
}

void Sampler::bridgeGone() {
    bridge_ = false;
    timer_->stop();
}

// The due times start again from now, the first of them at once.
void Sampler::resume() {
    origin_ = clock_.nsecsElapsed();
    lastDue_ = -1;
    timer_->setInterval(intervalMs_);
    timer_->start();
    tick();
}

void Sampler::tick() {
    const qint64 due = (clock_.nsecsElapsed() - origin_ + EarlyMarginNs) / (intervalMs_ * NsPerMs);
    if (due <= lastDue_)
        return;
    missed_ += due - lastDue_ - 1;
    lastDue_ = due;
    if (asked_) { // the sample before is still waiting or under way
        ++missed_;
        return;
    }
    asked_ = true;
    const qint64 dueNs = origin_ + due * intervalMs_ * NsPerMs;
    const std::shared_ptr<bool> alive = alive_;
    session_.operations().whenQuiet([this, alive, dueNs] {
        if (*alive)
            take(dueNs);
    });
}

void Sampler::take(qint64 dueNs) {
    if (!running_ || !bridge_) {
        asked_ = false;
        return;
    }
    const qint64 now = clock_.nsecsElapsed();
    const std::shared_ptr<bool> alive = alive_;
    const std::vector<access::AccessOutcome> outcomes = session_.operations().readTogether(registers_);
    if (!*alive)
        return; // deleted while the reads waited
    asked_ = false;
    if (outcomes.empty() || !running_)
        return;
    if (now - dueNs > LateAfterMs * NsPerMs)
        ++late_;
    ++samples_;
    if (onSample)
        onSample({now / NsPerMs, outcomes});
}

} // namespace regbench::session
