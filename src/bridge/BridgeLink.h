#pragma once

#include "usb/UsbDriver.h"

#include <QString>

#include <cstdint>
#include <functional>

namespace regbench::common {
class LogSink;
}

namespace regbench::bridge {

// Handed to the layer as the callbacks' user data.
struct BridgeDeviceContext {
    std::uint32_t InterfaceNumber = 0;
    std::uint32_t AlternateSetting = 0;
    std::uint32_t DeviceHandle = 0; // 0 while no bridge is held
    std::uint32_t InterfaceStatus = 0;
};

// The one driver connection of the program: opened at start-up, holding at most one bridge, closed once.
class BridgeLink {
public:
    BridgeLink(usb::UsbDriver& driver, common::LogSink& log);
    ~BridgeLink();
    BridgeLink(const BridgeLink&) = delete;
    BridgeLink& operator=(const BridgeLink&) = delete;

    std::uint16_t VendorId = 0;
    std::uint16_t ProductId = 0;
    std::uint32_t DriverHandle = 0;
    std::uint32_t LastStatus = 0;
    usb::MatchEntry matchTable;
    usb::EventTable eventTable;
    BridgeDeviceContext DeviceContext;
    bool DeviceAttached = false;

    // Told each time DeviceAttached changes, after the lines that report it.
    std::function<void(bool attached)> onAttachedChanged;

    // The driver start-up: opens the connection, waits for the bridge with the given pause and reports.
    void startUp(const std::function<void(int)>& pause);
    // Closes the connection when one was opened; later calls do nothing.
    void shutDown();
    bool isShutDown() const { return shutDown_; }

    bool DeviceAttach(std::uint32_t deviceHandle, const usb::DeviceInfo& info, void* userData);
    void DeviceDetach(std::uint32_t deviceHandle, void* userData);
    QString StatusText(std::uint32_t status);

    usb::UsbDriver& driver() { return driver_; }

    // A decimal number with a leading blank, or a minus sign in its place.
    static QString signedDecimal(std::int32_t value);

private:
    void logLine(const QString& text);
    bool rejectDevice();

    usb::UsbDriver& driver_;
    common::LogSink& log_;
    bool shutDown_ = false;
};

} // namespace regbench::bridge
