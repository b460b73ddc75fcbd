#pragma once

#include "common/ChipAddress.h"
#include "usb/BridgeIds.h"
#include "usb/DriverSession.h"
#include "usb/UsbDriver.h"
#include "usb/sim/SimChip.h"

#include <QByteArray>

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace regbench::usb::sim {

// The USB layer with the bridge and its chip simulated in-process, for tests and for running without the
// board. Single thread: every call, and every callback, on the thread that called WDU_VB_Init.
//
// A plugged device is present or gone at once; its arrival and removal reach the callbacks later, from the
// event loop. Faults stay set until cleared.
class SimUsbDriver : public UsbDriver {
public:
    SimUsbDriver();
    ~SimUsbDriver() override;
    SimUsbDriver(const SimUsbDriver&) = delete;
    SimUsbDriver& operator=(const SimUsbDriver&) = delete;

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

    // Devices. Ids are the simulation's own, not handles. WDU_VB_Init plugs in one bridge when auto-plug is
    // on and no matching device is present yet.
    void setAutoPlug(bool on);
    int plugBridge(std::uint16_t vid = BridgeVendorId, std::uint16_t pid = BridgeProductId);
    void unplugBridge(int id);
    // The bridge unplugs itself right after accepting the n-th next request (n <= 0: never).
    void unplugAfterRequests(int n);
    SimChip& chip(int id); // throws std::out_of_range for an unknown id
    // Where every simulated chip answers on its bus: the address the program was told its chip has.
    void setChipAddress(std::uint8_t address) { chipAddress_ = address; }
    int heldDevice() const; // the last accepted device still plugged in, or -1

    // Faults.
    void setDeviceInfoStatus(std::uint32_t status);
    void setEndpointCount(int count); // 0 to 2
    void setReplyStatus(std::optional<std::uint8_t> status);
    void setReplyLength(std::optional<int> length); // longer than natural: padded with 0xA5
    // While replies are dropped, the chip carries requests out but the replies are withheld: a read waits,
    // handling events, until its time-out, a removal or WDU_VB_Uninit ends it, or until replies go through
    // again, which hands it the reply withheld.
    void setDropReplies(bool drop);
    bool transferWaiting() const { return session_.transferWaiting(); }

private:
    struct Device {
        int id = 0;
        std::uint16_t vendorId = 0;
        std::uint16_t productId = 0;
        bool plugged = true;
        std::uint32_t alternateSetting = 0;
        std::optional<QByteArray> reply;
        std::optional<QByteArray> withheld; // while replies are dropped
        SimChip chip;
    };
    using Session = DriverSession<int>; // offers devices by their id

    bool matches(const Device& device) const;
    void queueOffer(int id);
    Device* lookup(std::uint32_t handle, std::uint32_t& status);
    DeviceInfo describe(const Device& device) const;
    std::uint32_t transfer(std::uint32_t deviceHandle, std::uint32_t pipe, std::uint32_t readFlag,
                           std::uint8_t* buffer, std::uint32_t length, std::uint32_t* bytesTransferred,
                           std::uint32_t timeoutMs);
    void transferOut(Device& device, const QByteArray& request);
    std::uint32_t transferIn(Device& device, std::uint8_t* buffer, std::uint32_t length,
                             std::uint32_t* bytesTransferred, std::uint32_t timeoutMs);
    std::uint32_t waitForReply(int id, std::uint32_t timeoutMs);
    void applyReplyFaults(QByteArray& reply) const;

    Session session_;
    int waitingDevice_ = -1; // whose reply a read now waits for
    std::map<int, Device> devices_;
    int nextDeviceId_ = 1;
    int held_ = -1;
    int requestsUntilUnplug_ = 0;

    bool autoPlug_ = true;
    std::uint8_t chipAddress_ = common::ChipAddress::Default;
    std::uint32_t deviceInfoStatus_ = UsbStatus::Success;
    int endpointCount_ = 2;
    std::optional<std::uint8_t> replyStatus_;
    std::optional<int> replyLength_;
    bool dropReplies_ = false;
};

} // namespace regbench::usb::sim
