#pragma once

#include "bridge/BridgeLink.h"
#include "bridge/PipeTransfer.h"
#include "common/LogSink.h"
#include "support/RecordingDriver.h"
#include "usb/BridgeIds.h"
#include "usb/sim/SimUsbDriver.h"

#include <QStringList>
#include <QTest>

namespace regbench::tests {

// A log that keeps what the writers wrote; its lines leave out the text after the last line break.
struct RecordingLog : common::LogSink {
    void LogText(const QString& text, const QString& suffix) override { content += text + suffix; }
    void clearLog() override { content.clear(); }
    QStringList lines() const {
        return content.split(QStringLiteral("\r\n")).mid(0, content.count(QStringLiteral("\r\n")));
    }
    QString content;
};

// The driver connection and its pipe transfers over the simulated bridge, writing to a recording log.
struct LinkRig {
    LinkRig() {
        link.VendorId = usb::BridgeVendorId;
        link.ProductId = usb::BridgeProductId;
        recorded.timeoutCapMs = 30; // a reply that never comes must not hold a test for 30 s
    }
    // The driver start-up; its wait lasts long enough for every queued arrival.
    void startUp() {
        link.startUp([this](int ms) {
            QCOMPARE(ms, 1000);
            ++pauses;
            QTest::qWait(20);
        });
    }

    usb::sim::SimUsbDriver sim;
    RecordingDriver recorded{sim};
    RecordingLog log;
    bridge::BridgeLink link{recorded, log};
    bridge::PipeTransfer pipes{link, log};
    int pauses = 0;
};

} // namespace regbench::tests
