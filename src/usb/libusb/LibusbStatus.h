#pragma once

#include <libusb.h>

#include <cstdint>

namespace regbench::usb::libusb {

// The layer's status for a libusb error code (0 and positive counts are success).
std::uint32_t usbStatusFromLibusb(int libusbError);
// The layer's status for how a transfer handed to libusb ended.
std::uint32_t usbStatusFromTransfer(libusb_transfer_status status);

} // namespace regbench::usb::libusb
