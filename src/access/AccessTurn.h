#pragma once

#include <QObject>

#include <deque>
#include <functional>

namespace regbench::access {

// One register access at a time, whoever asks for it. An access waits for its reply in the event loop, so
// anything that runs from the loop meanwhile (a screen reader's press, a timer, held input handed on) could
// start a second one inside the first: its transfers would interleave with the first one's and the bridge
// would answer Busy. Instead, what asks while an access waits is queued and runs once that access has ended,
// in the order asked, from the event loop. Between the accesses of a group (during its pause) nothing
// waits, so a click there still runs at once. Work that runs by itself in the background (a watch's
// samples) asks for a quiet turn instead: it waits for any access and any group under way, so it never
// lands in the middle of what the user started.
class AccessTurn {
public:
    using Job = std::function<void()>;

    AccessTurn() = default;
    AccessTurn(const AccessTurn&) = delete;
    AccessTurn& operator=(const AccessTurn&) = delete;

    // Marks one access, from its request to its reply.
    class Access {
    public:
        explicit Access(AccessTurn& turn);
        ~Access();
        Access(const Access&) = delete;
        Access& operator=(const Access&) = delete;

    private:
        AccessTurn& turn_;
    };

    // Marks an operation of several accesses with pauses between them (a group, the whole device).
    class Operation {
    public:
        explicit Operation(AccessTurn& turn);
        ~Operation();
        Operation(const Operation&) = delete;
        Operation& operator=(const Operation&) = delete;

    private:
        AccessTurn& turn_;
    };

    bool busy() const { return busy_; }
    bool quiet() const { return !busy_ && operations_ == 0; }
    // True when an access waits: the job then runs after it, and after what was queued before it, and the
    // caller goes no further now. False: nothing waits, and the caller goes on at once.
    bool deferred(Job job);
    // The same for background work: true while an access waits or an operation is under way; the job then
    // runs once both have ended and every job deferred() queued has run.
    bool deferredUntilQuiet(Job job);
    // Forgets what is queued: for a program that is closing.
    void drop() {
        queue_.clear();
        quietQueue_.clear();
    }

private:
    void begin();
    void end();
    void runQueued();
    void scheduleRun();

    bool busy_ = false;
    int operations_ = 0;
    std::deque<Job> queue_;
    std::deque<Job> quietQueue_;
    QObject context_; // queued runs end with the turn
};

} // namespace regbench::access
