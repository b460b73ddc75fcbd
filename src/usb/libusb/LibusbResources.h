#pragma once

#include <libusb.h>

#include <memory>

namespace regbench::usb::libusb {

// Every libusb resource the backend holds is a std::unique_ptr whose deleter hands it back as libusb wants.
template <auto Release> struct Releaser {
    template <typename T> void operator()(T* resource) const { Release(resource); }
};

using ContextPtr = std::unique_ptr<libusb_context, Releaser<libusb_exit>>;
// One counted reference on a device.
using DevicePtr = std::unique_ptr<libusb_device, Releaser<libusb_unref_device>>;
using DeviceHandlePtr = std::unique_ptr<libusb_device_handle, Releaser<libusb_close>>;
using TransferPtr = std::unique_ptr<libusb_transfer, Releaser<libusb_free_transfer>>;
using ConfigDescriptorPtr =
    std::unique_ptr<libusb_config_descriptor, Releaser<libusb_free_config_descriptor>>;

// Points at the handle the interface was claimed on, which it does not own; must not outlive that handle.
struct InterfaceReleaser {
    int number = 0;
    void operator()(libusb_device_handle* handle) const {
        // After an unplug this fails with NO_DEVICE, which is expected and harmless.
        libusb_release_interface(handle, number);
    }
};
using ClaimedInterfacePtr = std::unique_ptr<libusb_device_handle, InterfaceReleaser>;

// Points at the context the callback is registered with, which it does not own. Deregistering also wakes a
// thread that waits in libusb's event loop.
struct HotplugDeregisterer {
    libusb_hotplug_callback_handle callback = 0;
    void operator()(libusb_context* context) const { libusb_hotplug_deregister_callback(context, callback); }
};
using HotplugRegistrationPtr = std::unique_ptr<libusb_context, HotplugDeregisterer>;

inline DevicePtr referenceDevice(libusb_device* device) {
    return DevicePtr(device != nullptr ? libusb_ref_device(device) : nullptr);
}

// The active configuration from libusb's cache (no I/O); empty with *error set when there is none.
inline ConfigDescriptorPtr activeConfig(libusb_device* device, int* error = nullptr) {
    libusb_config_descriptor* config = nullptr;
    const int result = libusb_get_active_config_descriptor(device, &config);
    if (error != nullptr)
        *error = result;
    return ConfigDescriptorPtr(result == 0 ? config : nullptr);
}

} // namespace regbench::usb::libusb
