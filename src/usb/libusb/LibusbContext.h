#pragma once

struct libusb_context;

namespace regbench::usb::libusb {

// Owns one libusb context: libusb_init on construction, libusb_exit on destruction.
class LibusbContext {
public:
    LibusbContext();
    ~LibusbContext();
    LibusbContext(const LibusbContext&) = delete;
    LibusbContext& operator=(const LibusbContext&) = delete;

    // 0 when the context is usable, else the libusb error of libusb_init.
    int error() const { return error_; }
    libusb_context* get() const { return context_; }

private:
    libusb_context* context_ = nullptr;
    int error_ = 0;
};

} // namespace regbench::usb::libusb
