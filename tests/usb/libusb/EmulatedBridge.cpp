#include "support/Testbed.h"

#include "EmulatedBridge.h"

#include "usb/BridgeBus.h"
#include "usb/BridgeProtocol.h"
#include "usb/BridgeService.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <optional>

namespace regbench::tests {

// One bridge: what the test sees, the reply it holds and the URBs between submission and reaping, each the
// resolved copy of the client's struct, whose buffer points to the copy of the client's buffer.
struct BridgeDevice : usb::BridgeBus {
    BridgeState state;
    bool dropReplies = false; // held: requests still arrive, their replies wait for the release
    std::optional<std::vector<std::uint8_t>> reply; // the bridge keeps one at most
    std::deque<Memory> pendingIn, reapable;

    void hold(bool on) {
        dropReplies = on;
        deliver();
    }
    int waiting() const { return static_cast<int>(pendingIn.size()); }

    // The chip's registers, on a bus where nothing else answers.
    int readRegister(std::uint8_t chip, std::uint8_t reg, std::uint8_t& value) override {
        if (chip != state.chip)
            return ENXIO;
        value = state.registers[reg];
        return 0;
    }
    int writeRegister(std::uint8_t chip, std::uint8_t reg, std::uint8_t value) override {
        if (chip != state.chip)
            return ENXIO;
        state.registers[reg] = value;
        return 0;
    }
    // As the kernel: pending transfers end with -ESHUTDOWN.
    void unplug() {
        for (Memory& u : pendingIn) {
            as<usbdevfs_urb>(u)->status = -ESHUTDOWN;
            reapable.push_back(u);
        }
        pendingIn.clear();
        state.claimed = false;
    }

    void ioctl(UMockdevIoctlClient* client, bool removed) {
        const unsigned long request = umockdev_ioctl_client_get_request(client);
        if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY)
            return reap(client, removed); // reaping still works after an unplug, as in the kernel
        if (removed)
            return umockdev_ioctl_client_complete(client, -1, ENODEV);
        switch (request) {
        case USBDEVFS_GET_CAPABILITIES:
            *as<std::uint32_t>(resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(std::uint32_t))) =
                USBDEVFS_CAP_REAP_AFTER_DISCONNECT; // the one libusb relies on here: reaping after an unplug
            return umockdev_ioctl_client_complete(client, 0, 0);
        case USBDEVFS_DISCONNECT_CLAIM: // libusb claims so, as it detaches kernel drivers
        case USBDEVFS_RELEASEINTERFACE:
            if (state.claimTaken && request != USBDEVFS_RELEASEINTERFACE)
                return umockdev_ioctl_client_complete(client, -1, EBUSY);
            state.claimed = request != USBDEVFS_RELEASEINTERFACE;
            return umockdev_ioctl_client_complete(client, 0, 0);
        case USBDEVFS_SETINTERFACE: // interface 0 has setting 0 alone
            return umockdev_ioctl_client_complete(client, 0, 0);
        case USBDEVFS_SUBMITURB:
            return submit(client);
        case USBDEVFS_DISCARDURB:
            return discard(client);
        default:
            return umockdev_ioctl_client_complete(client, -1, ENOTTY);
        }
    }

    void submit(UMockdevIoctlClient* client) {
        const Memory u = resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(usbdevfs_urb));
        usbdevfs_urb* f = as<usbdevfs_urb>(u);
        if (f->buffer_length > 0) // its copy lives as long as the URB's
            resolve(u.get(), offsetof(usbdevfs_urb, buffer), static_cast<gsize>(f->buffer_length));
        f->status = 0;
        f->actual_length = 0;
        if (f->endpoint == usb::BridgeProtocol::RequestPipe) {
            const auto* bytes = static_cast<const std::uint8_t*>(f->buffer); // an unread reply is dropped
            reply = usb::BridgeService::serve(*this, {bytes, bytes + f->buffer_length}).reply;
            f->actual_length = f->buffer_length;
            reapable.push_back(u);
        } else if (f->endpoint == usb::BridgeProtocol::ReplyPipe) {
            pendingIn.push_back(u);
        } else {
            return umockdev_ioctl_client_complete(client, -1, ENOENT); // no such endpoint
        }
        deliver();
        umockdev_ioctl_client_complete(client, 0, 0);
    }

    void reap(UMockdevIoctlClient* client, bool removed) {
        if (reapable.empty())
            return umockdev_ioctl_client_complete(client, -1, removed ? ENODEV : EAGAIN);
        const Memory u = reapable.front();
        reapable.pop_front();
        const Memory pointer = resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(void*));
        umockdev_ioctl_data_set_ptr(pointer.get(), 0, u.get());
        umockdev_ioctl_client_complete(client, 0, 0);
    }

    // A discarded URB must still be reaped, with -ENOENT, or libusb never finishes the cancel.
    void discard(UMockdevIoctlClient* client) {
        const gulong address = *reinterpret_cast<const gulong*>(umockdev_ioctl_client_get_arg(client)->data);
        const auto it = std::find_if(pendingIn.begin(), pendingIn.end(),
                                     [address](const Memory& u) { return u->client_addr == address; });
        if (it == pendingIn.end())
            return umockdev_ioctl_client_complete(client, -1, EINVAL);
        as<usbdevfs_urb>(*it)->status = -ENOENT;
        reapable.push_back(*it);
        pendingIn.erase(it);
        umockdev_ioctl_client_complete(client, 0, 0);
    }

    void deliver() {
        if (pendingIn.empty() || !reply || dropReplies)
            return;
        const Memory u = pendingIn.front();
        pendingIn.pop_front();
        usbdevfs_urb* f = as<usbdevfs_urb>(u);
        const int size = static_cast<int>(reply->size());
        f->actual_length = std::min(size, f->buffer_length);
        std::memcpy(f->buffer, reply->data(), static_cast<std::size_t>(f->actual_length));
        f->status = size > f->buffer_length ? -EOVERFLOW : 0;
        reply.reset();
        reapable.push_back(u);
    }
};

template class Emulated<BridgeDevice, BridgeState>;

int EmulatedBridge::add(std::uint16_t vendorId, std::uint16_t productId) {
    const QByteArray devnum = QByteArray::number(bed_->count() + 2);
    const QByteArray node = "/dev/bus/usb/001/" + devnum.rightJustified(3, '0');
    const QByteArray syspath = "/sys/devices/usb1/1-" + QByteArray::number(bed_->count() + 1);
    const auto le = [](std::uint16_t v) {
        return QByteArray::number((v & 0xFF) << 8 | v >> 8, 16).rightJustified(4, '0');
    };
    // The descriptors: device, configuration 1 (bus powered, 100 mA), interface 0 (vendor-specific) and its
    // bulk endpoints 0x02 and 0x82 of 64 bytes; vendor and product IDs little-endian.
    return bed_->add(
        node, syspath,
        "P: " + syspath.mid(4) + "\nN: " + node.mid(5) +
            "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\nE: DEVNAME=" + node +
            "\nE: BUSNUM=001\nE: DEVNUM=" + node.right(3) + "\nA: busnum=1\\n\nA: devnum=" + devnum +
            "\\n\nA: bConfigurationValue=1\\n\nA: speed=480\\n\nH: descriptors=1201000200000040" +
            le(vendorId) + le(productId) +
            "0001010200010902200001010080320904000002ff0000000705020240000007058202400000\n");
}

} // namespace regbench::tests
