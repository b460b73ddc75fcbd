#pragma once

#include "usb/UsbDriver.h"

#include <QByteArray>

#include <algorithm>
#include <map>
#include <optional>
#include <vector>

namespace regbench::tests {

// Any backend, as tests put it under the program's layers: what reached it is recorded, and what the tests
// need of a layer that no backend does by itself is put on top (a failing Init, a handle value of their
// choosing, status texts, a cap on every transfer's time-out so that a silent bridge costs no 30 s).
class RecordingDriver : public usb::UsbDriver {
public:
    struct Transfer {
        std::uint32_t readFlag = 0, options = 0, length = 0, timeoutMs = 0, status = 0;
        bool bufferNull = false;
        std::array<std::uint8_t, usb::SetupPacketSize> setup{};
        QByteArray out; // bytes sent, OUT only
    };

    explicit RecordingDriver(usb::UsbDriver& backend) : backend_(backend) {}

    std::vector<Transfer> transfers; // each once it has returned
    std::uint32_t uninitCalls = 0, lastUninitHandle = 0;
    std::optional<std::uint32_t> initStatus;      // Init fails with it, opening nothing
    std::optional<std::uint32_t> handleValue;     // the driver handle Init hands out
    std::optional<std::uint32_t> interfaceStatus; // SetInterface fails with it on a handle that works
    std::map<std::uint32_t, QByteArray> statusTexts;
    int timeoutCapMs = -1; // none when negative

    std::uint32_t WDU_VB_Init(std::uint32_t* driverHandle, const usb::MatchEntry* matchTables,
                              std::uint32_t numMatchTables, const usb::EventTable& eventTable,
                              std::uint32_t options, const void* windowHandle) override {
        if (initStatus && driverHandle != nullptr && matchTables != nullptr && numMatchTables > 0)
            return *initStatus;
        const std::uint32_t status = backend_.WDU_VB_Init(driverHandle, matchTables, numMatchTables,
                                                          eventTable, options, windowHandle);
        if (status == usb::UsbStatus::Success && handleValue) {
            realHandle_ = *driverHandle;
            *driverHandle = *handleValue;
        }
        return status;
    }
    std::uint32_t WDU_SetInterface(std::uint32_t deviceHandle, std::uint32_t interfaceNumber,
                                   std::uint32_t alternateSetting) override {
        const std::uint32_t status =
            backend_.WDU_SetInterface(deviceHandle, interfaceNumber, alternateSetting);
        return status == usb::UsbStatus::Success && interfaceStatus ? *interfaceStatus : status;
    }
    std::uint32_t WDU_GetDeviceInfo(std::uint32_t deviceHandle, usb::DeviceInfo* info) override {
        return backend_.WDU_GetDeviceInfo(deviceHandle, info);
    }
    std::uint32_t WDU_Transfer(std::uint32_t deviceHandle, std::uint32_t pipe, std::uint32_t readFlag,
                               std::uint32_t options, std::uint8_t* buffer, std::uint32_t length,
                               std::uint32_t* bytesTransferred,
                               const std::array<std::uint8_t, usb::SetupPacketSize>& setupPacket,
                               std::uint32_t timeoutMs) override {
        Transfer t{readFlag, options, length, timeoutMs, 0, buffer == nullptr, setupPacket, {}};
        if (readFlag == 0 && buffer != nullptr)
            t.out = QByteArray(reinterpret_cast<const char*>(buffer), static_cast<qsizetype>(length));
        std::uint32_t wait = timeoutMs;
        if (timeoutCapMs >= 0) // 0 waits without limit
            wait = std::max(1u, timeoutMs == 0 ? std::uint32_t(timeoutCapMs)
                                               : std::min(timeoutMs, std::uint32_t(timeoutCapMs)));
        t.status = backend_.WDU_Transfer(deviceHandle, pipe, readFlag, options, buffer, length,
                                         bytesTransferred, setupPacket, wait);
        transfers.push_back(t);
        return t.status;
    }
    QByteArray VB_Stat2Str(std::uint32_t status) override {
        return statusTexts.count(status) != 0 ? statusTexts.at(status) : backend_.VB_Stat2Str(status);
    }
    void WDU_VB_Uninit(std::uint32_t driverHandle) override {
        ++uninitCalls;
        lastUninitHandle = driverHandle;
        backend_.WDU_VB_Uninit(handleValue && driverHandle == *handleValue ? realHandle_ : driverHandle);
    }

private:
    usb::UsbDriver& backend_;
    std::uint32_t realHandle_ = 0;
};

} // namespace regbench::tests
