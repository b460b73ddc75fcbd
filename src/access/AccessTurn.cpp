#include "access/AccessTurn.h"

#include <utility>

namespace regbench::access {

AccessTurn::Access::Access(AccessTurn& turn) : turn_(turn) {
    turn_.begin();
}

AccessTurn::Access::~Access() {
    turn_.end();
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
    if (!queue_.empty())
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
}

} // namespace regbench::access
