#include "usb/libusb/LibusbDeviceRef.h"

#include <libusb.h>

#include <utility>

namespace regbench::usb::libusb {

LibusbDeviceRef::LibusbDeviceRef(libusb_device* device) : device_(device) {
    if (device_ != nullptr)
        libusb_ref_device(device_);
}

LibusbDeviceRef::~LibusbDeviceRef() {
    reset();
}

LibusbDeviceRef::LibusbDeviceRef(const LibusbDeviceRef& other) : LibusbDeviceRef(other.device_) {}

LibusbDeviceRef& LibusbDeviceRef::operator=(const LibusbDeviceRef& other) {
    if (this != &other) {
        LibusbDeviceRef copy(other);
        std::swap(device_, copy.device_);
    }
    return *this;
}

LibusbDeviceRef::LibusbDeviceRef(LibusbDeviceRef&& other) noexcept
    : device_(std::exchange(other.device_, nullptr)) {}

LibusbDeviceRef& LibusbDeviceRef::operator=(LibusbDeviceRef&& other) noexcept {
    if (this != &other) {
        reset();
        device_ = std::exchange(other.device_, nullptr);
    }
    return *this;
}

void LibusbDeviceRef::reset() {
    if (device_ != nullptr)
        libusb_unref_device(std::exchange(device_, nullptr));
}

} // namespace regbench::usb::libusb
