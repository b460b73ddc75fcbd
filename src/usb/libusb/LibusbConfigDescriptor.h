#pragma once

struct libusb_config_descriptor;
struct libusb_device;

namespace regbench::usb::libusb {

// The active configuration's descriptor, from libusb's cache (no I/O); freed on destruction.
class LibusbConfigDescriptor {
public:
    explicit LibusbConfigDescriptor(libusb_device* device);
    ~LibusbConfigDescriptor();
    LibusbConfigDescriptor(const LibusbConfigDescriptor&) = delete;
    LibusbConfigDescriptor& operator=(const LibusbConfigDescriptor&) = delete;

    // 0 when available, else the libusb error (NOT_FOUND for an unconfigured device).
    int error() const { return error_; }
    const libusb_config_descriptor* get() const { return config_; }
    const libusb_config_descriptor* operator->() const { return config_; }

private:
    libusb_config_descriptor* config_ = nullptr;
    int error_ = 0;
};

} // namespace regbench::usb::libusb
