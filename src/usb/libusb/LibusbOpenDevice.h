#pragma once

#include "usb/TransferWait.h"
#include "usb/UsbDriver.h"
#include "usb/libusb/LibusbResources.h"

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace regbench::usb::libusb {

// A matched device as the layer holds it: open with interface 0 claimed or, when that failed, kept unopened
// with the failure's status, so that every later access can say why it cannot work, or open it after all.
class LibusbOpenDevice {
public:
    // A transfer handed to libusb, which carries it out on its event thread. Shared between the call that
    // waits for it and the layer, which must see it end before the device or the library closes.
    struct InFlight {
        TransferPtr transfer;
        std::vector<std::uint8_t> data; // libusb's buffer; a control transfer's starts with the setup packet
        std::size_t dataOffset = 0;
        bool deviceToHost = false;
        int actualLength = 0; // written on the event thread before `end` finishes
        TransferEnd end;
    };

    explicit LibusbOpenDevice(DevicePtr device);
    LibusbOpenDevice(const LibusbOpenDevice&) = delete;
    LibusbOpenDevice& operator=(const LibusbOpenDevice&) = delete;

    libusb_device* device() const { return device_.get(); }
    // Opens the device and claims its interface unless that is done: Success, else the status of the step
    // that failed. Tried again at every access while it fails, so that a permission granted meanwhile (the
    // rule installed, `udevadm trigger`) works without plugging the bridge in again.
    std::uint32_t open();

    // Fills info from libusb's cached descriptors; works for an unopened device too.
    std::uint32_t describe(DeviceInfo& info) const;
    std::uint32_t setInterface(std::uint32_t interfaceNumber, std::uint32_t alternateSetting);
    // Pipe 0 is a control transfer built from setup; other pipes go by their endpoint's type. Null, with the
    // status that says why, when nothing was submitted.
    std::shared_ptr<InFlight> submit(std::uint32_t pipe, bool deviceToHost, const std::uint8_t* buffer,
                                     std::uint32_t length,
                                     const std::array<std::uint8_t, SetupPacketSize>& setup,
                                     std::uint32_t timeoutMs, std::uint32_t& status);
    // What arrived, copied into the caller's buffer; the count of bytes moved either way.
    static std::uint32_t collect(const InFlight& flight, std::uint8_t* buffer, std::uint32_t length);

private:
    std::shared_ptr<InFlight> prepare(bool deviceToHost, const std::uint8_t* buffer, std::uint32_t length,
                                      std::size_t setupSize, std::uint32_t& status) const;
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
