#pragma once

struct libusb_device_handle;

namespace regbench::usb::libusb {

// A claimed interface of an open device, released on destruction. Must not outlive the device handle.
class LibusbClaimedInterface {
public:
    LibusbClaimedInterface(libusb_device_handle* handle, int interfaceNumber);
    ~LibusbClaimedInterface();
    LibusbClaimedInterface(const LibusbClaimedInterface&) = delete;
    LibusbClaimedInterface& operator=(const LibusbClaimedInterface&) = delete;

    // 0 when claimed, else the libusb error of libusb_claim_interface.
    int error() const { return error_; }
    int number() const { return number_; }

private:
    libusb_device_handle* handle_;
    int number_;
    int error_;
};

} // namespace regbench::usb::libusb
