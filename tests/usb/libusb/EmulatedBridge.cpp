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
#include <mutex>

namespace regbench::tests {

namespace {

// An URB between submission and reaping: the resolved copies of the client's struct and buffer.
struct Urb {
    UMockdevIoctlData* urb = nullptr;
    UMockdevIoctlData* buffer = nullptr;
    usbdevfs_urb* fields() const { return reinterpret_cast<usbdevfs_urb*>(urb->data); }
    void release() {
        if (buffer != nullptr)
            g_object_unref(buffer);
        g_object_unref(urb);
    }
};

QByteArray descriptors(std::uint16_t vendorId, std::uint16_t productId) {
    const auto lo = [](std::uint16_t v) { return static_cast<char>(v & 0xFF); };
    const auto hi = [](std::uint16_t v) { return static_cast<char>(v >> 8); };
    const std::array<char, 50> bytes = {
        // device: USB 2.0, vendor class 0, max packet 64, bcdDevice 1.00, one configuration
        18, 1, 0x00, 0x02, 0, 0, 0, 64, lo(vendorId), hi(vendorId), lo(productId), hi(productId), 0x00, 0x01,
        1, 2, 0, 1,
        // configuration 1: 32 bytes in all, one interface, bus powered, 100 mA
        9, 2, 32, 0, 1, 1, 0, static_cast<char>(0x80), 50,
        // interface 0: two endpoints, vendor-specific class
        9, 4, 0, 0, 2, static_cast<char>(0xFF), 0, 0, 0,
        // endpoints 0x02 OUT and 0x82 IN, bulk, 64 bytes
        7, 5, 0x02, 2, 64, 0, 0, 7, 5, static_cast<char>(0x82), 2, 64, 0, 0};
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// The bridge's registers, on a bus where the chip acknowledges everything.
class RegisterBus : public usb::BridgeBus {
public:
    explicit RegisterBus(std::array<std::uint8_t, 256>& registers) : registers_(registers) {}
    int readRegister(std::uint8_t reg, std::uint8_t& value) override {
        value = registers_[reg];
        return 0;
    }
    int writeRegister(std::uint8_t reg, std::uint8_t value) override {
        registers_[reg] = value;
        return 0;
    }

private:
    std::array<std::uint8_t, 256>& registers_;
};

} // namespace

struct EmulatedBridge::Impl {
    struct Device {
        Impl* owner = nullptr;
        Bridge state;
        std::optional<QByteArray> reply; // the bridge keeps one at most
        UMockdevIoctlBase* handler = nullptr;
        QByteArray node;
        QByteArray syspath;
        bool removed = false;
        std::deque<Urb> pendingIn;
        std::deque<Urb> reapable;
    };

    std::mutex mutex;
    Testbed testbed;
    std::deque<Device> devices;

    static gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user) {
        auto* device = static_cast<Device*>(user);
        const std::lock_guard lock(device->owner->mutex);
        handle(*device, client);
        return TRUE;
    }

    static void handle(Device& d, UMockdevIoctlClient* client) {
        const unsigned long request = umockdev_ioctl_client_get_request(client);
        if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY)
            return reap(d, client); // reaping still works after an unplug, as in the kernel
        if (d.removed)
            return umockdev_ioctl_client_complete(client, -1, ENODEV);
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        switch (request) {
        case USBDEVFS_GET_CAPABILITIES: {
            UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(std::uint32_t), nullptr);
            const std::uint32_t value = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                        USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
            std::memcpy(caps->data, &value, sizeof value);
            g_object_unref(caps);
            return umockdev_ioctl_client_complete(client, 0, 0);
        }
        case USBDEVFS_CLAIMINTERFACE:
        case USBDEVFS_DISCONNECT_CLAIM:
        case USBDEVFS_RELEASEINTERFACE:
            d.state.claimed = request != USBDEVFS_RELEASEINTERFACE;
            return umockdev_ioctl_client_complete(client, 0, 0);
        case USBDEVFS_SETINTERFACE: // interface 0 has setting 0 alone
            return umockdev_ioctl_client_complete(client, 0, 0);
        case USBDEVFS_GETDRIVER:
        case USBDEVFS_IOCTL:
            return umockdev_ioctl_client_complete(client, -1, ENODATA); // no kernel driver is bound
        case USBDEVFS_SUBMITURB:
            return submit(d, client);
        case USBDEVFS_DISCARDURB:
            return discard(d, client);
        default:
            return umockdev_ioctl_client_complete(client, -1, ENOTTY);
        }
    }

    static void submit(Device& d, UMockdevIoctlClient* client) {
        Urb u{umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(usbdevfs_urb),
                                          nullptr)};
        usbdevfs_urb* f = u.fields();
        if (f->buffer_length > 0)
            u.buffer = umockdev_ioctl_data_resolve(u.urb, offsetof(usbdevfs_urb, buffer),
                                                   static_cast<gsize>(f->buffer_length), nullptr);
        f->status = 0;
        f->actual_length = 0;
        if (f->endpoint == usb::BridgeProtocol::RequestPipe) {
            const char* bytes = u.buffer != nullptr ? reinterpret_cast<const char*>(u.buffer->data) : "";
            request(d, QByteArray(bytes, f->buffer_length));
            f->actual_length = f->buffer_length;
            d.reapable.push_back(u);
        } else if (f->endpoint == usb::BridgeProtocol::ReplyPipe) {
            d.pendingIn.push_back(u);
        } else {
            u.release();
            return umockdev_ioctl_client_complete(client, -1, ENOENT); // no such endpoint
        }
        deliver(d);
        umockdev_ioctl_client_complete(client, 0, 0);
    }

    static void reap(Device& d, UMockdevIoctlClient* client) {
        if (d.reapable.empty())
            return umockdev_ioctl_client_complete(client, -1, d.removed ? ENODEV : EAGAIN);
        Urb u = d.reapable.front();
        d.reapable.pop_front();
        UMockdevIoctlData* pointer =
            umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(void*), nullptr);
        umockdev_ioctl_data_set_ptr(pointer, 0, u.urb);
        umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(pointer);
        u.release();
    }

    // A discarded URB must still be reaped, with -ENOENT, or libusb never finishes the cancel.
    static void discard(Device& d, UMockdevIoctlClient* client) {
        gulong address = 0;
        std::memcpy(&address, umockdev_ioctl_client_get_arg(client)->data, sizeof address);
        const auto it = std::find_if(d.pendingIn.begin(), d.pendingIn.end(),
                                     [address](const Urb& u) { return u.urb->client_addr == address; });
        if (it == d.pendingIn.end())
            return umockdev_ioctl_client_complete(client, -1, EINVAL);
        it->fields()->status = -ENOENT;
        d.reapable.push_back(*it);
        d.pendingIn.erase(it);
        umockdev_ioctl_client_complete(client, 0, 0);
    }

    // A new request drops an unread reply.
    static void request(Device& d, const QByteArray& bytes) {
        d.state.outs.push_back(bytes);
        d.reply.reset();
        RegisterBus bus(d.state.registers);
        const std::vector<std::uint8_t> served =
            usb::BridgeService::serve(bus, std::vector<std::uint8_t>(bytes.begin(), bytes.end())).reply;
        const QByteArray reply(reinterpret_cast<const char*>(served.data()),
                               static_cast<qsizetype>(served.size()));
        if (!d.state.dropReplies)
            d.reply = reply;
    }

    static void deliver(Device& d) {
        if (d.pendingIn.empty() || !d.reply)
            return;
        Urb u = d.pendingIn.front();
        d.pendingIn.pop_front();
        usbdevfs_urb* f = u.fields();
        const int n = std::min(static_cast<int>(d.reply->size()), f->buffer_length);
        if (n > 0)
            std::memcpy(u.buffer->data, d.reply->constData(), static_cast<std::size_t>(n));
        f->actual_length = n;
        f->status = d.reply->size() > f->buffer_length ? -EOVERFLOW : 0;
        d.reply.reset();
        d.reapable.push_back(u);
    }
};

EmulatedBridge::EmulatedBridge() : d(std::make_unique<Impl>()) {}

EmulatedBridge::~EmulatedBridge() {
    for (Impl::Device& device : d->devices) {
        g_signal_handlers_disconnect_by_data(device.handler, &device);
        for (std::deque<Urb>* urbs : {&device.pendingIn, &device.reapable})
            std::for_each(urbs->begin(), urbs->end(), [](Urb& u) { u.release(); });
        g_object_unref(device.handler);
    }
}

int EmulatedBridge::add(std::uint16_t vendorId, std::uint16_t productId) {
    const std::lock_guard lock(d->mutex);
    const int index = static_cast<int>(d->devices.size());
    const QByteArray devnum = QByteArray::number(index + 2);
    Impl::Device& device = d->devices.emplace_back();
    device.owner = d.get();
    device.node = "/dev/bus/usb/001/" + devnum.rightJustified(3, '0');
    device.handler = d->testbed.handle(device.node, &Impl::onIoctl, &device);
    device.syspath = "/sys/devices/usb1/1-" + QByteArray::number(index + 1);
    const QByteArray text =
        "P: " + device.syspath.mid(4) + "\nN: " + device.node.mid(5) +
        "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\nE: DEVNAME=" + device.node +
        "\nE: BUSNUM=001\nE: DEVNUM=" + device.node.right(3) + "\nA: busnum=1\\n\nA: devnum=" + devnum +
        "\\n\nA: bConfigurationValue=1\\n\nA: speed=480\\n\nH: descriptors=" +
        descriptors(vendorId, productId).toHex() + "\n";
    umockdev_testbed_add_from_string(d->testbed.get(), text.constData(), nullptr);
    return index;
}

void EmulatedBridge::remove(int bridge) {
    QByteArray syspath;
    {
        const std::lock_guard lock(d->mutex);
        Impl::Device& device = d->devices.at(static_cast<std::size_t>(bridge));
        device.removed = true;
        for (Urb& u : device.pendingIn) {
            u.fields()->status = -ESHUTDOWN;
            device.reapable.push_back(u);
        }
        device.pendingIn.clear();
        device.state.claimed = false;
        syspath = device.syspath;
    }
    d->testbed.remove(syspath);
}

QString EmulatedBridge::nodeFile(int bridge) const {
    return d->testbed.root() + QString::fromLatin1(d->devices.at(static_cast<std::size_t>(bridge)).node);
}

EmulatedBridge::Bridge EmulatedBridge::state(int bridge) const {
    const std::lock_guard lock(d->mutex);
    const Impl::Device& device = d->devices.at(static_cast<std::size_t>(bridge));
    Bridge copy = device.state;
    copy.pendingIns = static_cast<int>(device.pendingIn.size());
    return copy;
}

void EmulatedBridge::edit(const std::function<void(Bridge&)>& change, int bridge) {
    const std::lock_guard lock(d->mutex);
    change(d->devices.at(static_cast<std::size_t>(bridge)).state);
}

} // namespace regbench::tests
