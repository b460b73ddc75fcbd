#include "usb/libusb/LibusbDeviceList.h"

#include <libusb.h>

namespace regbench::usb::libusb {

LibusbDeviceList::LibusbDeviceList(libusb_context* context) {
    const ssize_t count = libusb_get_device_list(context, &list_);
    if (count < 0)
        list_ = nullptr;
    else
        size_ = static_cast<std::size_t>(count);
}

LibusbDeviceList::~LibusbDeviceList() {
    if (list_ != nullptr)
        libusb_free_device_list(list_, 1);
}

} // namespace regbench::usb::libusb
