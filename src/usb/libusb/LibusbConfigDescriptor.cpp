#include "usb/libusb/LibusbConfigDescriptor.h"

#include <libusb.h>

namespace regbench::usb::libusb {

LibusbConfigDescriptor::LibusbConfigDescriptor(libusb_device* device) {
    error_ = libusb_get_active_config_descriptor(device, &config_);
    if (error_ != 0)
        config_ = nullptr;
}

LibusbConfigDescriptor::~LibusbConfigDescriptor() {
    if (config_ != nullptr)
        libusb_free_config_descriptor(config_);
}

} // namespace regbench::usb::libusb
