#pragma once

#include "usb/DriverSession.h"
#include "usb/UsbDriver.h"
#include "usb/i2cdev/AdapterRecord.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>

namespace regbench::common {
class FdWatch;
}

namespace regbench::usb::i2cdev {

class AdapterChannel;
class UdevAdapters;

// The USB layer served in-process over Linux i2c-dev: every eligible I2C adapter is offered as a bridge
// with one interface and the pipes 0x02 (requests) and 0x82 (replies), and the bridge's requests are
// carried out on the adapter as I2C transactions with the chip.
//
// Eligible: a known USB-to-I2C adapter, or one that a udev rule marked with REGBENCH_I2C=1; the match table
// is checked as the contract wants but not consulted. Discovery reads udev and sysfs only; a node is opened
// at its first access, and an adapter whose node cannot be opened is offered all the same, every access then
// answering why. Arrivals and removals reach the callbacks only through the Qt event loop of the thread of
// WDU_VB_Init. WDU_Transfer with a time-out of 0 waits without limit.
class I2cDevDriver final : public UsbDriver {
public:
    I2cDevDriver();
    ~I2cDevDriver() override;
    I2cDevDriver(const I2cDevDriver&) = delete;
    I2cDevDriver& operator=(const I2cDevDriver&) = delete;

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

    // Takes the adapter of /dev/i2c-`bus` alone as the bridge, and only while it is eligible: when it is not,
    // `tell` is given a line saying why and how to mark it, and nothing is sent to it. Before WDU_VB_Init.
    void chooseBus(int bus, std::function<void(const QString& line)> tell);

private:
    struct Adapter {
        AdapterRecord record;
        std::unique_ptr<AdapterChannel> channel; // opened at the first access
    };
    using Session = DriverSession<Adapter>;
    using Offered = Session::Offered;

    void watchMonitor();
    void readMonitor();
    void handleAdapter(const AdapterRecord& adapter);
    void handleRemoval(const std::string& syspath);
    AdapterChannel* channel(Offered& held, std::uint32_t& status);
    static void markGone(Offered& held);
    std::uint32_t waitUntilIdle(AdapterChannel& adapter, std::uint32_t timeoutMs);
    void shutdown();

    std::unique_ptr<UdevAdapters> udev_;
    std::unique_ptr<common::FdWatch> monitorWatch_;
    Session session_;
    std::set<std::string> refused_; // syspaths, until their removal: a refusal stands, as for a USB device
    std::string chosenNode_;        // empty: every eligible adapter
    std::function<void(const QString& line)> tell_;
};

} // namespace regbench::usb::i2cdev
