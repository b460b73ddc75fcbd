#pragma once

#include <cstdint>

namespace regbench::usb::libusb {

// The layer's status for a libusb error code (0 and positive counts are success).
std::uint32_t usbStatusFromLibusb(int libusbError);

} // namespace regbench::usb::libusb
