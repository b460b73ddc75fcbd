#pragma once

#include <libusb.h>

namespace regbench::usb::libusb {

// One hot-plug callback for arrivals and removals, registered with LIBUSB_HOTPLUG_ENUMERATE (so present
// devices are reported inside the constructor, on the calling thread) and deregistered on destruction.
class LibusbHotplugRegistration {
public:
    // Pass LIBUSB_HOTPLUG_MATCH_ANY for a field that should match any device.
    LibusbHotplugRegistration(libusb_context* context, int vendorId, int productId, int deviceClass,
                              libusb_hotplug_callback_fn callback, void* userData);
    ~LibusbHotplugRegistration();
    LibusbHotplugRegistration(const LibusbHotplugRegistration&) = delete;
    LibusbHotplugRegistration& operator=(const LibusbHotplugRegistration&) = delete;

    // 0 when registered, else the libusb error.
    int error() const { return error_; }

private:
    libusb_context* context_;
    libusb_hotplug_callback_handle handle_ = 0;
    int error_;
};

} // namespace regbench::usb::libusb
