#include "usb/libusb/LibusbClaimedInterface.h"

#include <libusb.h>

namespace regbench::usb::libusb {

LibusbClaimedInterface::LibusbClaimedInterface(libusb_device_handle* handle, int interfaceNumber)
    : handle_(handle), number_(interfaceNumber), error_(libusb_claim_interface(handle, interfaceNumber)) {}

LibusbClaimedInterface::~LibusbClaimedInterface() {
    // After an unplug this fails with NO_DEVICE, which is expected and harmless.
    if (error_ == 0)
        libusb_release_interface(handle_, number_);
}

} // namespace regbench::usb::libusb
