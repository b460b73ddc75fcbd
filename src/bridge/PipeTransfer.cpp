#include "bridge/PipeTransfer.h"

#include "bridge/BridgeLink.h"
#include "common/HexText.h"
#include "common/LogSink.h"

#include <QString>

#include <algorithm>
#include <utility>

namespace regbench::bridge {

PipeTransfer::PipeTransfer(BridgeLink& link, common::LogSink& log) : link_(link), log_(log) {}

bool PipeTransfer::WritePipe() {
    return transfer(false);
}

bool PipeTransfer::ReadPipe() {
    return transfer(true);
}

bool PipeTransfer::transfer(bool read) {
    const QString name = read ? QStringLiteral("ReadPipe") : QStringLiteral("WritePipe");
    const std::uint32_t handle = link_.DeviceContext.DeviceHandle;
    BytesTransferred = 0;

    usb::DeviceInfo info;
    link_.LastStatus = link_.driver().WDU_GetDeviceInfo(handle, &info);
    if (link_.LastStatus != 0) {
        log_.LogLine(name + QStringLiteral(": WDU_GetDeviceInfo() failed:"));
        log_.LogLine(QStringLiteral("error &H") + common::HexText::hex(link_.LastStatus) +
                     QStringLiteral(" (") + link_.StatusText(link_.LastStatus) + QLatin1Char(')'));
        log_.LogLine(QString());
        return false;
    }

    const QString closingLine =
        read ? QStringLiteral("Read Pipe failed") : QStringLiteral("Write Pipe failed");
    const bool hasPipes = !info.ActiveInterfaces.empty() &&
                          info.ActiveInterfaces.front().ActiveAltSetting.Descriptor.bNumEndpoints > 0;
    if (!hasPipes) {
        log_.LogLine(QStringLiteral("  No pipes are defined for this device "));
        log_.LogLine(QStringLiteral("other than the default pipe (number 0)"));
        log_.LogLine(closingLine);
        return false;
    }

    std::vector<std::uint8_t> buffer = std::move(TransferBuffer);
    TransferBuffer.clear();
    // Never hand the layer more room than the buffer really has.
    const auto length = static_cast<std::uint32_t>(
        std::clamp<std::int64_t>(TransferLength, 0, static_cast<std::int64_t>(buffer.size())));
    std::uint32_t moved = 0;
    const std::array<std::uint8_t, usb::SetupPacketSize> setupPacket{};
    link_.LastStatus = link_.driver().WDU_Transfer(handle, TransferPipe, read ? 1 : 0, 0,
                                                   length > 0 ? buffer.data() : nullptr, length, &moved,
                                                   setupPacket, TimeoutMs);
    TransferBuffer = std::move(buffer);
    BytesTransferred = moved;
    if (link_.LastStatus == 0) {
        return true;
    }
    log_.LogLine(name + QStringLiteral(": WDU_Transfer() failed: error &H") +
                 common::HexText::hex(link_.LastStatus) + QStringLiteral(" (") +
                 link_.StatusText(link_.LastStatus) + QLatin1Char(')'));
    log_.LogLine(closingLine);
    return false;
}

} // namespace regbench::bridge
