#include "usb/sim/SimFaults.h"

#include "usb/BridgeProtocol.h"
#include "usb/sim/SimUsbDriver.h"

namespace regbench::usb::sim::SimFaults {

const QStringList& names() {
    static const QStringList all{QStringLiteral("silent"),    QStringLiteral("no-ack"),
                                 QStringLiteral("i2c-error"), QStringLiteral("short-reply"),
                                 QStringLiteral("no-pipes"),  QStringLiteral("no-device-info")};
    return all;
}

void apply(SimUsbDriver& sim, const QStringList& faults) {
    for (const QString& fault : faults) {
        if (fault == u"silent")
            sim.setDropReplies(true);
        else if (fault == u"no-ack")
            sim.setReplyStatus(BridgeProtocol::StatusNoAck);
        else if (fault == u"i2c-error")
            sim.setReplyStatus(BridgeProtocol::StatusGeneralError);
        else if (fault == u"short-reply")
            sim.setReplyLength(1);
        else if (fault == u"no-pipes")
            sim.setEndpointCount(0);
        else if (fault == u"no-device-info")
            sim.setDeviceInfoStatus(UsbStatus::IoError);
    }
}

} // namespace regbench::usb::sim::SimFaults
