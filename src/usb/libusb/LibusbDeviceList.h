#pragma once

#include <cstddef>

struct libusb_context;
struct libusb_device;

namespace regbench::usb::libusb {

// A snapshot of the devices libusb knows, with one reference on each until destruction.
class LibusbDeviceList {
public:
    explicit LibusbDeviceList(libusb_context* context);
    ~LibusbDeviceList();
    LibusbDeviceList(const LibusbDeviceList&) = delete;
    LibusbDeviceList& operator=(const LibusbDeviceList&) = delete;

    // False when libusb could not list the devices.
    bool valid() const { return list_ != nullptr; }
    std::size_t size() const { return size_; }
    libusb_device* operator[](std::size_t index) const { return list_[index]; }

private:
    libusb_device** list_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace regbench::usb::libusb
