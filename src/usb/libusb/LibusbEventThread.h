#pragma once

#include <atomic>
#include <thread>

struct libusb_context;

namespace regbench::usb::libusb {

// A thread of our own that handles libusb events (hot-plug, transfer completions, time-outs). It sleeps in
// libusb's poll while nothing happens; stopping wakes it with libusb_interrupt_event_handler.
class LibusbEventThread {
public:
    explicit LibusbEventThread(libusb_context* context);
    ~LibusbEventThread();
    LibusbEventThread(const LibusbEventThread&) = delete;
    LibusbEventThread& operator=(const LibusbEventThread&) = delete;

    // Clears the loop flag without waiting; the thread ends at its next wake-up.
    void requestStop();
    // Clears the flag, wakes the thread and joins it. Safe to call twice.
    void stop();

private:
    void run();

    libusb_context* context_;
    std::atomic<bool> running_{true};
    std::thread thread_;
};

} // namespace regbench::usb::libusb
