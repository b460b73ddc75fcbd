#pragma once

#include "usb/DriverSession.h"
#include "usb/UsbDriver.h"
#include "usb/libusb/LibusbOpenDevice.h"
#include "usb/libusb/LibusbResources.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace regbench::usb::libusb {

class LibusbEventThread;

// The USB layer on libusb-1.0. Arrivals and removals come from libusb's hot-plug, and reach the attach and
// detach callbacks only through the Qt event loop of the thread that called WDU_VB_Init; where libusb has no
// hot-plug, WDU_VB_Init fails with NotSupported rather than open a layer that never hears of a bridge.
// WDU_Transfer with a time-out of 0 waits without limit, as libusb does.
class LibusbDriver final : public UsbDriver {
public:
    LibusbDriver();
    ~LibusbDriver() override;
    LibusbDriver(const LibusbDriver&) = delete;
    LibusbDriver& operator=(const LibusbDriver&) = delete;

    std::uint32_t WDU_VB_Init(std::uint32_t* driverHandle, const MatchEntry* matchTables,
                              std::uint32_t numMatchTables, const EventTable& eventTable,
                              std::uint32_t options, const void* windowHandle) override;
    std::uint32_t WDU_SetInterface(std::uint32_t deviceHandle, std::uint32_t interfaceNumber,
                                   std::uint32_t alternateSetting) override;
    std::uint32_t WDU_GetDeviceInfo(std::uint32_t deviceHandle, DeviceInfo* info) override;
    std::uint32_t WDU_Transfer(std::uint32_t deviceHandle, std::uint32_t pipe, std::uint32_t readFlag,
                               std::uint32_t options, std::uint8_t* buffer, std::uint32_t length,
                               std::uint32_t* bytesTransferred,
                               const std::array<std::uint8_t, SetupPacketSize>& setupPacket,
                               std::uint32_t timeoutMs) override;
    QByteArray VB_Stat2Str(std::uint32_t status) override;
    void WDU_VB_Uninit(std::uint32_t driverHandle) override;

private:
    using Session = DriverSession<std::unique_ptr<LibusbOpenDevice>>;
    using Offered = Session::Offered;

    std::uint32_t startWatching();
    bool matches(libusb_device* device) const;
    // Both may be called on any thread; the work runs later on the thread of WDU_VB_Init.
    void queueArrival(libusb_device* device);
    void queueRemoval(libusb_device* device);
    void handleArrival(DevicePtr device);
    // Null with the status when the handle is unknown, gone, or its device could not be opened.
    Offered* lookup(std::uint32_t handle, std::uint32_t& status);
    // Cancels the transfer in flight, if any, and frees it once libusb has let go of it.
    void landFlight();
    void shutdown();

    ContextPtr context_;
    std::vector<HotplugRegistrationPtr> hotplug_;
    std::unique_ptr<LibusbEventThread> eventThread_;
    Session session_;
    std::shared_ptr<LibusbOpenDevice::InFlight> flight_; // what WDU_VB_Uninit must see end
};

} // namespace regbench::usb::libusb
