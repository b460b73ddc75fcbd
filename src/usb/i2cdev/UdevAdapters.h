#pragma once

#include "usb/i2cdev/AdapterRecord.h"

#include <memory>
#include <optional>
#include <vector>

struct udev;
struct udev_device;
struct udev_enumerate;
struct udev_monitor;

namespace regbench::usb::i2cdev {

// The i2c-dev nodes as udev knows them: a listing at start and a monitor for what comes and goes. Nothing
// here opens a node. Use on one thread only (libudev objects are not thread-safe).
class UdevAdapters {
public:
    enum class Action { Add, Change, Remove };
    struct Event {
        Action action = Action::Add;
        AdapterRecord adapter; // only the syspath is known for a removal
    };

    UdevAdapters();
    ~UdevAdapters();
    UdevAdapters(const UdevAdapters&) = delete;
    UdevAdapters& operator=(const UdevAdapters&) = delete;

    // False when libudev could not be started; nothing else works then.
    bool valid() const { return udev_ != nullptr; }
    // The monitor's socket, to watch for readability; -1 when there is no monitor (no hot-plug then).
    int monitorFd() const;
    std::vector<AdapterRecord> list() const;
    // The next event waiting on the monitor, without blocking.
    std::optional<Event> receive() const;

    struct Unref {
        void operator()(udev* u) const;
        void operator()(udev_device* d) const;
        void operator()(udev_enumerate* e) const;
        void operator()(udev_monitor* m) const;
    };

private:
    std::unique_ptr<udev, Unref> udev_;
    std::unique_ptr<udev_monitor, Unref> monitor_;
};

} // namespace regbench::usb::i2cdev
