#pragma once

#include "usb/BridgeIds.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace regbench::tests {

// USB-to-I2C bridges emulated at the kernel interface with umockdev, for tests and benchmarks of the libusb
// backend. Each bridge has one interface with bulk endpoints 0x02 (requests) and 0x82 (replies) and answers
// the register protocol: 01 39 a -> [status, value of a]; 00 38 a v -> [status], writing v to a.
// The process must run under umockdev-wrapper. All members are thread-safe.
class EmulatedBridge {
public:
    // Sets up the empty testbed; create it before libusb_init, so before WDU_VB_Init.
    EmulatedBridge();
    ~EmulatedBridge();

    // Plugs in a new bridge and returns its number (0, 1, ...), which the calls below take. A bridge that is
    // plugged in again is a new one, as it is to the host.
    int add(std::uint16_t vendorId = usb::BridgeVendorId, std::uint16_t productId = usb::BridgeProductId);
    // Unplugs it as the kernel would: pending transfers end with -ESHUTDOWN, later ioctls answer ENODEV.
    void remove(int bridge = 0);
    // The file behind the bridge's /dev node in the testbed (to take away permissions, say).
    QString nodeFile(int bridge = 0) const;

    // What a test sets and reads of one bridge.
    struct Bridge {
        std::array<std::uint8_t, 256> registers{};
        bool dropReplies = false;     // requests still arrive, but no reply ever comes
        std::vector<QByteArray> outs; // every OUT transfer's bytes, in order
        bool claimed = false;         // its interface is claimed
        int pendingIns = 0;           // IN transfers waiting for a reply
    };
    Bridge state(int bridge = 0) const;
    void edit(const std::function<void(Bridge&)>& change, int bridge = 0);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace regbench::tests
