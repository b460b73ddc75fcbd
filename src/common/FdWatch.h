#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

namespace regbench::common {

// Calls a function each time a file descriptor is readable, from the Qt event loop of the thread that
// created the watch. It is the program's one owner of a QSocketNotifier: it may be destroyed from inside its
// own function, where deleting the notifier at once would pull the floor from under the event loop, so the
// notifier then goes later, disabled. The descriptor stays the caller's; destroy the watch before closing it.
class FdWatch {
public:
    FdWatch(int fd, std::function<void()> onReadable);
    ~FdWatch();
    FdWatch(const FdWatch&) = delete;
    FdWatch& operator=(const FdWatch&) = delete;

    // A disabled watch calls nothing; a descriptor still readable when enabled again calls at once.
    void setEnabled(bool enabled);

private:
    QSocketNotifier* notifier_;
    std::function<void()> onReadable_;
    int running_ = 0;
    // Cleared by the destructor; whoever calls out holds a copy and tests it before touching members again.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace regbench::common
