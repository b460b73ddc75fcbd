#include "usb/libusb/LibusbStatus.h"

#include "usb/UsbDriver.h"

#include <libusb.h>

namespace regbench::usb::libusb {

std::uint32_t usbStatusFromLibusb(int libusbError) {
    if (libusbError >= 0)
        return UsbStatus::Success;
    switch (libusbError) {
    case LIBUSB_ERROR_NO_DEVICE:
        return UsbStatus::DeviceGone;
    case LIBUSB_ERROR_TIMEOUT:
        return UsbStatus::Timeout;
    case LIBUSB_ERROR_PIPE:
        return UsbStatus::Stall;
    case LIBUSB_ERROR_ACCESS:
        return UsbStatus::NoPermission;
    case LIBUSB_ERROR_BUSY:
        return UsbStatus::Busy;
    case LIBUSB_ERROR_NOT_FOUND:
        return UsbStatus::NotFound;
    case LIBUSB_ERROR_IO:
        return UsbStatus::IoError;
    case LIBUSB_ERROR_OVERFLOW:
        return UsbStatus::Overflow;
    case LIBUSB_ERROR_NOT_SUPPORTED:
        return UsbStatus::NotSupported;
    case LIBUSB_ERROR_INVALID_PARAM:
        return UsbStatus::InvalidArgument;
    default:
        return UsbStatus::Other;
    }
}

std::uint32_t usbStatusFromTransfer(libusb_transfer_status status) {
    switch (status) {
    case LIBUSB_TRANSFER_COMPLETED:
        return UsbStatus::Success;
    case LIBUSB_TRANSFER_TIMED_OUT:
        return UsbStatus::Timeout;
    case LIBUSB_TRANSFER_STALL:
        return UsbStatus::Stall;
    case LIBUSB_TRANSFER_NO_DEVICE:
        return UsbStatus::DeviceGone;
    case LIBUSB_TRANSFER_OVERFLOW:
        return UsbStatus::Overflow;
    case LIBUSB_TRANSFER_CANCELLED: // only the layer cancels, when it closes: the handle is released
        return UsbStatus::InvalidHandle;
    case LIBUSB_TRANSFER_ERROR:
        return UsbStatus::IoError;
    }
    return UsbStatus::Other;
}

} // namespace regbench::usb::libusb
