#include "usb/libusb/LibusbHotplugRegistration.h"

namespace regbench::usb::libusb {

LibusbHotplugRegistration::LibusbHotplugRegistration(libusb_context* context, int vendorId, int productId,
                                                     int deviceClass, libusb_hotplug_callback_fn callback,
                                                     void* userData)
    : context_(context) {
    const auto events =
        static_cast<int>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED) | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT;
    error_ = libusb_hotplug_register_callback(context, events, LIBUSB_HOTPLUG_ENUMERATE, vendorId, productId,
                                              deviceClass, callback, userData, &handle_);
}

LibusbHotplugRegistration::~LibusbHotplugRegistration() {
    // Deregistering also wakes a thread that waits in the event loop.
    if (error_ == 0)
        libusb_hotplug_deregister_callback(context_, handle_);
}

} // namespace regbench::usb::libusb
