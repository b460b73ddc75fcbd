#pragma once

#include "usb/BridgeIds.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace regbench::tests {

// USB-to-I2C bridges emulated at the kernel interface with umockdev, for tests and benchmarks of the libusb
// backend. Each bridge has one interface with bulk endpoints 0x02 (requests) and 0x82 (replies) and answers
// the register protocol: 01 39 a -> [status, value of a]; 00 38 a v -> [status], writing v to a.
// The process must run under umockdev-wrapper (see underWrapper). All members are thread-safe.
class EmulatedBridge {
public:
    // Sets up the empty testbed; create it before libusb_init, so before WDU_VB_Init.
    EmulatedBridge();
    ~EmulatedBridge();
    EmulatedBridge(const EmulatedBridge&) = delete;
    EmulatedBridge& operator=(const EmulatedBridge&) = delete;

    // True when libumockdev-preload is in LD_PRELOAD; without it nothing is emulated.
    static bool underWrapper();

    // Plugs in a new bridge and returns its number (0, 1, ...), which the calls below take.
    int add(std::uint16_t vendorId = usb::BridgeVendorId, std::uint16_t productId = usb::BridgeProductId);
    // Unplugs it as the kernel would: pending transfers end with -ESHUTDOWN, later ioctls answer ENODEV.
    void remove(int bridge = 0);
    // Plugs it in again at a new bus address; registers and faults are kept.
    void readd(int bridge = 0);
    // The file behind the bridge's /dev node in the testbed (to take away permissions, say).
    QString nodeFile(int bridge = 0) const;

    void setRegister(std::uint8_t address, std::uint8_t value, int bridge = 0);
    std::uint8_t registerValue(std::uint8_t address, int bridge = 0) const;
    // Replaces the status byte of every reply (0x00 when unset).
    void setReplyStatus(std::optional<std::uint8_t> status, int bridge = 0);
    // Requests still arrive, but no reply ever comes.
    void setDropReplies(bool drop, int bridge = 0);

    // Every OUT transfer's bytes and every IN transfer's requested length, in order.
    std::vector<QByteArray> outTransfers(int bridge = 0) const;
    std::vector<std::uint32_t> inRequests(int bridge = 0) const;
    void clearRecords(int bridge = 0);
    // IN transfers waiting for a reply.
    int pendingInTransfers(int bridge = 0) const;
    bool interfaceClaimed(int bridge = 0) const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace regbench::tests
