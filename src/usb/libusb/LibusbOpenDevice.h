#pragma once

#include "usb/UsbDriver.h"
#include "usb/libusb/LibusbResources.h"

#include <array>
#include <cstdint>
#include <map>

namespace regbench::usb::libusb {

// A matched device as the layer holds it: open with interface 0 claimed or, when that failed, kept unopened
// with the failure's status, so that every later access can say why it cannot work.
class LibusbOpenDevice {
public:
    explicit LibusbOpenDevice(DevicePtr device);
    LibusbOpenDevice(const LibusbOpenDevice&) = delete;
    LibusbOpenDevice& operator=(const LibusbOpenDevice&) = delete;

    libusb_device* device() const { return device_.get(); }
    // Success when open and claimed, else the status of the step that failed.
    std::uint32_t openStatus() const { return openStatus_; }

    // Fills info from libusb's cached descriptors; works for an unopened device too.
    std::uint32_t describe(DeviceInfo& info) const;
    std::uint32_t setInterface(std::uint32_t interfaceNumber, std::uint32_t alternateSetting);
    // Pipe 0 is a control transfer built from setup; other pipes go by their endpoint's type.
    std::uint32_t transfer(std::uint32_t pipe, bool deviceToHost, std::uint8_t* buffer, std::uint32_t length,
                           std::uint32_t& transferred, const std::array<std::uint8_t, SetupPacketSize>& setup,
                           std::uint32_t timeoutMs);

private:
    std::uint32_t controlTransfer(bool deviceToHost, std::uint8_t* buffer, std::uint32_t length,
                                  std::uint32_t& transferred,
                                  const std::array<std::uint8_t, SetupPacketSize>& setup,
                                  std::uint32_t timeoutMs);
    // The transfer type of an endpoint of the claimed interface's active setting, or -1 if it has none such.
    int endpointType(std::uint8_t endpoint) const;
    std::uint8_t activeAlternate(std::uint8_t interfaceNumber) const;

    DevicePtr device_;
    DeviceHandlePtr handle_;
    ClaimedInterfacePtr claim_; // declared after handle_: released before it closes
    std::uint32_t openStatus_ = UsbStatus::Other;
    std::map<std::uint8_t, std::uint8_t> alternates_;
};

} // namespace regbench::usb::libusb
