#pragma once

#include <functional>
#include <memory>

namespace regbench::tests {

template <typename Device> class Testbed;

// Devices emulated at the kernel interface with umockdev, numbered 0, 1, ... as they are added, as tests and
// benchmarks see them: each shows a State to read and edit. Device is the emulation's own; the members are
// defined in support/Testbed.h and instantiated with each emulation, which keeps umockdev.h (to come before
// any Qt header) out of this one. The process must run under umockdev-wrapper. All members are thread-safe.
template <typename Device, typename State> class Emulated {
public:
    // Sets up the empty testbed: create it before the layer under test opens libusb or a udev monitor.
    Emulated();
    ~Emulated();

    // Unplugs it as the kernel would: what waits on it ends, later ioctls answer ENODEV.
    void remove(int device = 0);
    // Takes the permission of the device's /dev node away, or grants it to its owner; false if that failed.
    bool deny(bool on, int device = 0);
    // Every ioctl that reached the node.
    int ioctls(int device = 0) const;
    // A held device answers no request until released (the emulation says what becomes of them); waiting()
    // counts the calls that wait meanwhile for an answer.
    void hold(bool on, int device = 0);
    int waiting(int device = 0) const;

    State state(int device = 0) const;
    void edit(const std::function<void(State&)>& change, int device = 0);

protected:
    std::unique_ptr<Testbed<Device>> bed_;
};

} // namespace regbench::tests
