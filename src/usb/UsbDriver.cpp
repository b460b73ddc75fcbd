#include "usb/UsbDriver.h"

namespace regbench::usb {

QByteArray usbStatusText(std::uint32_t status) {
    switch (status) {
    case UsbStatus::Success:
        return "Success";
    case UsbStatus::InvalidHandle:
        return "Unknown or released device handle";
    case UsbStatus::DeviceGone:
        return "The device has been disconnected";
    case UsbStatus::Timeout:
        return "The transfer timed out";
    case UsbStatus::Stall:
        return "The device stalled the pipe";
    case UsbStatus::NoPermission:
        return "No permission to access the device";
    case UsbStatus::Busy:
        return "The device or interface is busy";
    case UsbStatus::NotFound:
        return "Not found";
    case UsbStatus::IoError:
        return "Input/output error";
    case UsbStatus::Overflow:
        return "The device sent more data than requested";
    case UsbStatus::NotSupported:
        return "Operation not supported";
    case UsbStatus::InvalidArgument:
        return "Invalid argument";
    default:
        return "Unknown error";
    }
}

QByteArray noPermissionText(const QByteArray& what, const QByteArray& then) {
    return "No permission to open " + what +
           ": install the udev rule 60-regbench.rules (the package or cmake --install brings it), then " +
           then;
}

} // namespace regbench::usb
