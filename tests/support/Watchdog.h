#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace regbench::tests {

// Ends the test process when the call it guards has not returned by its deadline. A transfer whose wake-up
// is lost waits with nothing left to end it, and CTest would take minutes to give up on the test: this fails
// it within seconds, naming what hung. Its thread only waits, so it neither wakes the waiting thread nor
// hides a lost wake-up.
class Watchdog {
public:
    Watchdog(std::chrono::milliseconds limit, const char* what)
        : thread_([this, limit, what] {
              std::unique_lock lock(mutex_);
              if (!ended_.wait_for(lock, limit, [this] { return done_; })) {
                  std::fprintf(stderr, "FAIL! %s did not return within %lld ms\n", what,
                               static_cast<long long>(limit.count()));
                  std::abort();
              }
          }) {}
    ~Watchdog() {
        {
            const std::lock_guard lock(mutex_);
            done_ = true;
        }
        ended_.notify_one();
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::mutex mutex_;
    std::condition_variable ended_;
    bool done_ = false;
    std::thread thread_; // last: starts once the members it uses exist
};

} // namespace regbench::tests
