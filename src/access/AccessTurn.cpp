#include "access/AccessTurn.h"

#include <utility>

namespace regbench::access {

AccessTurn::Access::Access(AccessTurn& turn) : turn_(turn) {
    turn_.begin();
}

AccessTurn::Access::~Access() {
    turn_.end();
}

AccessTurn::Operation::Operation(AccessTurn& turn) : turn_(turn) {
    ++turn_.operations_;
}

AccessTurn::Operation::~Operation() {
    if (--turn_.operations_ == 0 && !turn_.quietQueue_.empty())
        turn_.scheduleRun();
}

bool AccessTurn::deferredUntilQuiet(Job job) {
    if (quiet() && queue_.empty())
        return false;
    quietQueue_.push_back(std::move(job));
    return true;
}

bool AccessTurn::deferred(Job job) {
    if (!busy_)
        return false;
    queue_.push_back(std::move(job));
    return true;
}

// Accesses never nest: every caller asks deferred() first, and whatever asks while one waits is queued.
void AccessTurn::begin() {
    busy_ = true;
}

// The queue runs from the event loop, not from here: the code whose access just ended has not finished
// with its outcome yet (an edit held meanwhile must land after the value just read).
void AccessTurn::end() {
    busy_ = false;
    if (!queue_.empty() || !quietQueue_.empty())
        scheduleRun();
}

void AccessTurn::scheduleRun() {
    QMetaObject::invokeMethod(
        &context_, [this] { runQueued(); }, Qt::QueuedConnection);
}

// A job that starts an access returns only once that access has ended; what it queued meanwhile is next.
void AccessTurn::runQueued() {
    while (!busy_ && !queue_.empty()) {
        Job next = std::move(queue_.front());
        queue_.pop_front();
        next();
    }
    // One background job a round: what the user asks meanwhile goes before the next.
    if (quiet() && queue_.empty() && !quietQueue_.empty()) {
        Job next = std::move(quietQueue_.front());
        quietQueue_.pop_front();
        next();
        if (!quietQueue_.empty() && quiet())
            scheduleRun();
    }
}

} // namespace regbench::access
