#pragma once

struct libusb_device;
struct libusb_device_handle;

namespace regbench::usb::libusb {

// An open device: libusb_open on construction, libusb_close on destruction.
class LibusbDeviceHandle {
public:
    explicit LibusbDeviceHandle(libusb_device* device);
    ~LibusbDeviceHandle();
    LibusbDeviceHandle(const LibusbDeviceHandle&) = delete;
    LibusbDeviceHandle& operator=(const LibusbDeviceHandle&) = delete;

    // 0 when open, else the libusb error of libusb_open.
    int error() const { return error_; }
    libusb_device_handle* get() const { return handle_; }

private:
    libusb_device_handle* handle_ = nullptr;
    int error_ = 0;
};

} // namespace regbench::usb::libusb
