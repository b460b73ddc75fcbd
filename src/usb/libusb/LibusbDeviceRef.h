#pragma once

struct libusb_device;

namespace regbench::usb::libusb {

// One counted reference on a libusb_device; copying takes another reference.
class LibusbDeviceRef {
public:
    LibusbDeviceRef() = default;
    explicit LibusbDeviceRef(libusb_device* device);
    ~LibusbDeviceRef();
    LibusbDeviceRef(const LibusbDeviceRef& other);
    LibusbDeviceRef& operator=(const LibusbDeviceRef& other);
    LibusbDeviceRef(LibusbDeviceRef&& other) noexcept;
    LibusbDeviceRef& operator=(LibusbDeviceRef&& other) noexcept;

    libusb_device* get() const { return device_; }
    explicit operator bool() const { return device_ != nullptr; }
    void reset();

private:
    libusb_device* device_ = nullptr;
};

} // namespace regbench::usb::libusb
