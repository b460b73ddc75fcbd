#include "usb/libusb/LibusbContext.h"

#include <libusb.h>

namespace regbench::usb::libusb {

LibusbContext::LibusbContext() {
    error_ = libusb_init(&context_);
    if (error_ != 0)
        context_ = nullptr;
}

LibusbContext::~LibusbContext() {
    if (context_ != nullptr)
        libusb_exit(context_);
}

} // namespace regbench::usb::libusb
