#include "usb/libusb/LibusbDeviceHandle.h"

#include <libusb.h>

namespace regbench::usb::libusb {

LibusbDeviceHandle::LibusbDeviceHandle(libusb_device* device) {
    error_ = libusb_open(device, &handle_);
    if (error_ != 0)
        handle_ = nullptr;
}

LibusbDeviceHandle::~LibusbDeviceHandle() {
    if (handle_ != nullptr)
        libusb_close(handle_);
}

} // namespace regbench::usb::libusb
