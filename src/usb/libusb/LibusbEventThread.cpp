#include "usb/libusb/LibusbEventThread.h"

#include <libusb.h>

#include <chrono>

namespace regbench::usb::libusb {

LibusbEventThread::LibusbEventThread(libusb_context* context) : context_(context) {
    thread_ = std::thread([this] { run(); });
}

LibusbEventThread::~LibusbEventThread() {
    stop();
}

void LibusbEventThread::requestStop() {
    running_.store(false);
}

void LibusbEventThread::stop() {
    requestStop();
    if (!thread_.joinable())
        return;
    // The interrupt stays pending until handled, so it cannot be lost between the flag test and the poll.
    libusb_interrupt_event_handler(context_);
    thread_.join();
}

void LibusbEventThread::run() {
    while (running_.load()) {
        const int result = libusb_handle_events_completed(context_, nullptr);
        // A persistent failure would otherwise turn this loop into a busy one.
        if (result != 0 && result != LIBUSB_ERROR_INTERRUPTED && result != LIBUSB_ERROR_TIMEOUT)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

} // namespace regbench::usb::libusb
