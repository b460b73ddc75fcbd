#include "bridge/BridgeLink.h"

#include "common/HexText.h"
#include "common/LogSink.h"

#include <utility>

namespace regbench::bridge {

using common::HexText;

BridgeLink::BridgeLink(usb::UsbDriver& driver, common::LogSink& log) : driver_(driver), log_(log) {}

BridgeLink::~BridgeLink() {
    shutDown();
}

QString BridgeLink::signedDecimal(std::int32_t value) {
    return value < 0 ? QString::number(value) : QLatin1Char(' ') + QString::number(value);
}

void BridgeLink::logLine(const QString& text) {
    log_.LogText(text, common::CrLf);
}

void BridgeLink::startUp(const std::function<void(int)>& pause) {
    matchTable = usb::MatchEntry{};
    matchTable.VendorId = VendorId;
    matchTable.ProductId = ProductId;

    eventTable = usb::EventTable{};
    eventTable.AttachCallback = [this](std::uint32_t handle, const usb::DeviceInfo& info, void* userData) {
        return DeviceAttach(handle, info, userData);
    };
    eventTable.DetachCallback = [this](std::uint32_t handle, void* userData) {
        DeviceDetach(handle, userData);
    };
    eventTable.UserData = &DeviceContext;

    logLine(QStringLiteral("Initializing driver for USB-to-I2C interface..."));
    LastStatus = driver_.WDU_VB_Init(&DriverHandle, &matchTable, 1, eventTable, 1, this);
    if (LastStatus != 0) {
        log_.LogLine(QStringLiteral("Form_Activate(): Failed to initialize USB driver: error &H") +
                     HexText::hex(LastStatus));
        log_.LogLine(QLatin1Char('(') + StatusText(LastStatus) + QLatin1Char(')'));
        log_.LogLine(QStringLiteral("USB-to-I2C driver initialization failure."));
        return;
    }
    logLine(QStringLiteral("USB-to-I2C driver initialization successful."));
    logLine(QStringLiteral("Searching for USB-to-I2C interface..."));

    pause(1000);
    if (shutDown_) {
        return; // the window closed during the wait: nothing more to report to
    }
    if (!DeviceAttached) {
        logLine(common::InterfaceNotDetected);
        return;
    }
    log_.clearLog();
    logLine(QStringLiteral("USB-to-I2C driver initialization successful."));
    logLine(QStringLiteral("USB-to-I2C interface detected."));
    logLine(QString());
}

void BridgeLink::shutDown() {
    if (shutDown_) {
        return;
    }
    shutDown_ = true;
    if (static_cast<std::int32_t>(DriverHandle) > 0) {
        driver_.WDU_VB_Uninit(DriverHandle);
    }
}

bool BridgeLink::DeviceAttach(std::uint32_t deviceHandle, const usb::DeviceInfo& info, void* /*userData*/) {
    logLine(QStringLiteral("DeviceAttach: Received attach for "));
    logLine(QStringLiteral("vendor ID &H") + HexText::hex(info.Descriptor.idVendor) +
            QStringLiteral(" product ID &H") + HexText::hex(info.Descriptor.idProduct));
    logLine(QStringLiteral("device handle &H") + HexText::hex(deviceHandle));

    if (DeviceContext.DeviceHandle != 0) {
        logLine(QStringLiteral("DeviceAttach: Previous attached already accepted control of the device - "));
        logLine(QStringLiteral("control is rejected because only one device control is supported"));
        return rejectDevice();
    }
    DeviceContext.DeviceHandle = deviceHandle;

    if (DeviceContext.AlternateSetting != 0) {
        DeviceContext.InterfaceStatus = driver_.WDU_SetInterface(deviceHandle, DeviceContext.InterfaceNumber,
                                                                 DeviceContext.AlternateSetting);
        const std::uint32_t status = DeviceContext.InterfaceStatus;
        if (status != 0) {
            logLine(QStringLiteral("DeviceAttach: WDU_SetInterface failed"));
            logLine(QStringLiteral("(num. ") +
                    signedDecimal(static_cast<std::int32_t>(DeviceContext.InterfaceNumber)) +
                    QStringLiteral(" alternate ") +
                    signedDecimal(static_cast<std::int32_t>(DeviceContext.AlternateSetting)) +
                    QLatin1Char(')'));
            logLine(QStringLiteral("device &H") + HexText::hex(DeviceContext.DeviceHandle) +
                    QStringLiteral(": error &H") + HexText::hex(status));
            logLine(QLatin1Char('(') + StatusText(status) + QLatin1Char(')'));
            DeviceContext.DeviceHandle = 0;
            return rejectDevice();
        }
    }

    DeviceAttached = true;
    logLine(QStringLiteral("DeviceAttach: Accepting control of the device"));
    logLine(QString());
    if (onAttachedChanged)
        onAttachedChanged(true);
    return true;
}

bool BridgeLink::rejectDevice() {
    logLine(QStringLiteral("DeviceAttach: Rejecting control of the device"));
    return false;
}

void BridgeLink::DeviceDetach(std::uint32_t deviceHandle, void* /*userData*/) {
    log_.LogLine(QStringLiteral("DeviceDetach: Received detach for device handle &H") +
                 HexText::hex(deviceHandle));
    DeviceContext.DeviceHandle = 0;
    const bool was = std::exchange(DeviceAttached, false);
    if (was && onAttachedChanged)
        onAttachedChanged(false);
}

QString BridgeLink::StatusText(std::uint32_t status) {
    QByteArray text = driver_.VB_Stat2Str(status);
    const qsizetype nul = text.indexOf('\0');
    if (nul >= 0) {
        text.truncate(nul);
    }
    return QString::fromLatin1(text);
}

} // namespace regbench::bridge
