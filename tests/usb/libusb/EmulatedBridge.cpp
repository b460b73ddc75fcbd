// Before any Qt header, which would turn glib's "signals" members into a keyword.
#include <umockdev.h>

#include "EmulatedBridge.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <deque>
#include <mutex>

namespace regbench::tests {

namespace {

constexpr std::uint8_t RequestPipe = 0x02;
constexpr std::uint8_t ReplyPipe = 0x82;

// An URB between submission and reaping: the resolved copies of the client's struct and buffer.
struct Urb {
    UMockdevIoctlData* urb = nullptr;
    UMockdevIoctlData* buffer = nullptr;
    usbdevfs_urb* fields() const { return reinterpret_cast<usbdevfs_urb*>(urb->data); }
};

void release(Urb& u) {
    if (u.buffer != nullptr)
        g_object_unref(u.buffer);
    if (u.urb != nullptr)
        g_object_unref(u.urb);
    u = Urb{};
}

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

} // namespace

struct EmulatedBridge::Impl {
    struct Bridge {
        std::uint16_t vendorId = 0;
        std::uint16_t productId = 0;
        std::array<std::uint8_t, 256> registers{};
        std::optional<std::uint8_t> replyStatus;
        bool dropReplies = false;
        std::optional<QByteArray> reply;
        std::vector<QByteArray> outs;
        std::vector<std::uint32_t> ins;
        bool claimed = false;
        int plug = -1; // index into plugs while present
        QByteArray syspath;
    };
    // One plugging-in of a bridge: its node, ioctl handler and URBs.
    struct Plug {
        Impl* owner = nullptr;
        int bridge = 0;
        UMockdevIoctlBase* handler = nullptr;
        QByteArray node;
        bool removed = false;
        std::deque<Urb> pendingIn;
        std::deque<Urb> reapable;
    };

    mutable std::mutex mutex;
    UMockdevTestbed* testbed = nullptr;
    std::deque<Bridge> bridges;
    std::deque<Plug> plugs;
    int nextDevnum = 2;

    Bridge& bridge(int index) { return bridges.at(static_cast<std::size_t>(index)); }
    void plugIn(int index);
    static gboolean onIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, gpointer user);
    void handle(Plug& plug, UMockdevIoctlClient* client);
    void submit(Plug& plug, UMockdevIoctlClient* client);
    void submitBulk(Plug& plug, Urb u, UMockdevIoctlClient* client);
    void reap(Plug& plug, UMockdevIoctlClient* client);
    void discard(Plug& plug, UMockdevIoctlClient* client);
    void request(Bridge& b, const QByteArray& bytes);
    void deliver(Plug& plug);
};

void EmulatedBridge::Impl::plugIn(int index) {
    Bridge& b = bridge(index);
    const int devnum = nextDevnum++;
    Plug& plug = plugs.emplace_back();
    plug.owner = this;
    plug.bridge = index;
    plug.node = QByteArray("/dev/bus/usb/001/") + QByteArray::number(devnum).rightJustified(3, '0');
    plug.handler = umockdev_ioctl_base_new();
    g_signal_connect(plug.handler, "handle-ioctl", reinterpret_cast<GCallback>(&Impl::onIoctl), &plug);
    // The handler must be in place before the device appears, or libusb may open it first.
    umockdev_testbed_attach_ioctl(testbed, plug.node.constData(), plug.handler, nullptr);
    b.syspath = "/sys/devices/usb1/1-" + QByteArray::number(index + 1);
    b.plug = static_cast<int>(plugs.size()) - 1;
    const QByteArray hexDescriptors = descriptors(b.vendorId, b.productId).toHex();
    const QByteArray text =
        "P: " + b.syspath.mid(4) + "\nN: " + plug.node.mid(5) +
        "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\nE: DEVNAME=" + plug.node +
        "\nE: BUSNUM=001\nE: DEVNUM=" + plug.node.right(3) +
        "\nA: busnum=1\\n\nA: devnum=" + QByteArray::number(devnum) +
        "\\n\nA: bConfigurationValue=1\\n\nA: speed=480\\n\nH: descriptors=" + hexDescriptors + "\n";
    umockdev_testbed_add_from_string(testbed, text.constData(), nullptr);
}

gboolean EmulatedBridge::Impl::onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user) {
    auto* plug = static_cast<Plug*>(user);
    const std::lock_guard lock(plug->owner->mutex);
    plug->owner->handle(*plug, client);
    return TRUE;
}

void EmulatedBridge::Impl::handle(Plug& plug, UMockdevIoctlClient* client) {
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY)
        return reap(plug, client); // reaping still works after an unplug, as in the kernel
    if (plug.removed)
        return umockdev_ioctl_client_complete(client, -1, ENODEV);
    Bridge& b = bridge(plug.bridge);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(std::uint32_t), nullptr);
        const std::uint32_t value =
            USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
        std::memcpy(caps->data, &value, sizeof value);
        g_object_unref(caps);
        return umockdev_ioctl_client_complete(client, 0, 0);
    }
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_DISCONNECT_CLAIM:
        b.claimed = true;
        return umockdev_ioctl_client_complete(client, 0, 0);
    case USBDEVFS_RELEASEINTERFACE:
        b.claimed = false;
        return umockdev_ioctl_client_complete(client, 0, 0);
    case USBDEVFS_SETINTERFACE: {
        UMockdevIoctlData* data = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_setinterface), nullptr);
        const auto* setting = reinterpret_cast<const usbdevfs_setinterface*>(data->data);
        const bool known = setting->interface == 0 && setting->altsetting == 0;
        g_object_unref(data);
        return umockdev_ioctl_client_complete(client, known ? 0 : -1, known ? 0 : EINVAL);
    }
    case USBDEVFS_GETDRIVER:
    case USBDEVFS_IOCTL:
        return umockdev_ioctl_client_complete(client, -1, ENODATA); // no kernel driver is bound
    case USBDEVFS_SUBMITURB:
        return submit(plug, client);
    case USBDEVFS_DISCARDURB:
        return discard(plug, client);
    default:
        return umockdev_ioctl_client_complete(client, -1, ENOTTY);
    }
}

void EmulatedBridge::Impl::submit(Plug& plug, UMockdevIoctlClient* client) {
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    Urb u;
    u.urb = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
    if (u.urb == nullptr)
        return umockdev_ioctl_client_complete(client, -1, EFAULT);
    usbdevfs_urb* f = u.fields();
    if (f->buffer_length > 0)
        u.buffer = umockdev_ioctl_data_resolve(u.urb, offsetof(usbdevfs_urb, buffer),
                                               static_cast<gsize>(f->buffer_length), nullptr);
    f->status = 0;
    f->actual_length = 0;
    if (f->type == USBDEVFS_URB_TYPE_BULK || f->type == USBDEVFS_URB_TYPE_INTERRUPT)
        return submitBulk(plug, u, client);
    release(u);
    umockdev_ioctl_client_complete(client, -1, EINVAL);
}

void EmulatedBridge::Impl::submitBulk(Plug& plug, Urb u, UMockdevIoctlClient* client) {
    Bridge& b = bridge(plug.bridge);
    usbdevfs_urb* f = u.fields();
    if (f->endpoint == RequestPipe) {
        const char* bytes = u.buffer != nullptr ? reinterpret_cast<const char*>(u.buffer->data) : "";
        request(b, QByteArray(bytes, f->buffer_length));
        f->actual_length = f->buffer_length;
        plug.reapable.push_back(u);
    } else if (f->endpoint == ReplyPipe) {
        b.ins.push_back(static_cast<std::uint32_t>(f->buffer_length));
        plug.pendingIn.push_back(u);
    } else {
        release(u);
        return umockdev_ioctl_client_complete(client, -1, ENOENT); // no such endpoint
    }
    deliver(plug);
    umockdev_ioctl_client_complete(client, 0, 0);
}

void EmulatedBridge::Impl::reap(Plug& plug, UMockdevIoctlClient* client) {
    if (plug.reapable.empty())
        return umockdev_ioctl_client_complete(client, -1, plug.removed ? ENODEV : EAGAIN);
    Urb u = plug.reapable.front();
    plug.reapable.pop_front();
    UMockdevIoctlData* pointer =
        umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(void*), nullptr);
    umockdev_ioctl_data_set_ptr(pointer, 0, u.urb);
    umockdev_ioctl_client_complete(client, 0, 0);
    g_object_unref(pointer);
    release(u);
}

void EmulatedBridge::Impl::discard(Plug& plug, UMockdevIoctlClient* client) {
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    gulong address = 0;
    std::memcpy(&address, arg->data, sizeof address);
    const auto it = std::find_if(plug.pendingIn.begin(), plug.pendingIn.end(),
                                 [address](const Urb& u) { return u.urb->client_addr == address; });
    if (it == plug.pendingIn.end())
        return umockdev_ioctl_client_complete(client, -1, EINVAL);
    // A discarded URB must still be reaped, with -ENOENT, or libusb never finishes the cancel.
    it->fields()->status = -ENOENT;
    plug.reapable.push_back(*it);
    plug.pendingIn.erase(it);
    umockdev_ioctl_client_complete(client, 0, 0);
}

void EmulatedBridge::Impl::request(Bridge& b, const QByteArray& bytes) {
    b.outs.push_back(bytes);
    b.reply.reset(); // the bridge keeps one reply at most: a new request drops an unread one
    const auto status = static_cast<char>(b.replyStatus.value_or(0));
    const auto byte = [&bytes](int i) { return static_cast<std::uint8_t>(bytes.at(i)); };
    std::optional<QByteArray> reply;
    if (bytes.size() >= 3 && byte(0) == 0x01 && byte(1) == 0x39) {
        reply = QByteArray(1, status) + static_cast<char>(b.registers[byte(2)]);
    } else if (bytes.size() >= 4 && byte(0) == 0x00 && byte(1) == 0x38) {
        if ((status & 0xC0) == 0) // a write the chip did not acknowledge changes nothing
            b.registers[byte(2)] = byte(3);
        reply = QByteArray(1, status);
    } else if (!bytes.isEmpty()) {
        reply = QByteArray(1, static_cast<char>(0x80));
    }
    if (!b.dropReplies)
        b.reply = reply;
}

void EmulatedBridge::Impl::deliver(Plug& plug) {
    Bridge& b = bridge(plug.bridge);
    if (plug.pendingIn.empty() || !b.reply)
        return;
    Urb u = plug.pendingIn.front();
    plug.pendingIn.pop_front();
    usbdevfs_urb* f = u.fields();
    const int n = std::min(static_cast<int>(b.reply->size()), f->buffer_length);
    if (n > 0)
        std::memcpy(u.buffer->data, b.reply->constData(), static_cast<std::size_t>(n));
    f->actual_length = n;
    f->status = b.reply->size() > f->buffer_length ? -EOVERFLOW : 0;
    b.reply.reset();
    plug.reapable.push_back(u);
}

EmulatedBridge::EmulatedBridge() : d(std::make_unique<Impl>()) {
    d->testbed = umockdev_testbed_new();
}

EmulatedBridge::~EmulatedBridge() {
    for (Impl::Plug& plug : d->plugs)
        g_signal_handlers_disconnect_by_data(plug.handler, &plug);
    g_object_unref(d->testbed);
    for (Impl::Plug& plug : d->plugs) {
        for (Urb& u : plug.pendingIn)
            release(u);
        for (Urb& u : plug.reapable)
            release(u);
        g_object_unref(plug.handler);
    }
}

bool EmulatedBridge::underWrapper() {
    return qgetenv("LD_PRELOAD").contains("libumockdev-preload");
}

int EmulatedBridge::add(std::uint16_t vendorId, std::uint16_t productId) {
    const std::lock_guard lock(d->mutex);
    Impl::Bridge& b = d->bridges.emplace_back();
    b.vendorId = vendorId;
    b.productId = productId;
    const int index = static_cast<int>(d->bridges.size()) - 1;
    d->plugIn(index);
    return index;
}

void EmulatedBridge::remove(int bridge) {
    QByteArray syspath;
    {
        const std::lock_guard lock(d->mutex);
        Impl::Bridge& b = d->bridge(bridge);
        if (b.plug < 0)
            return;
        Impl::Plug& plug = d->plugs.at(static_cast<std::size_t>(b.plug));
        plug.removed = true;
        for (Urb& u : plug.pendingIn) {
            u.fields()->status = -ESHUTDOWN;
            plug.reapable.push_back(u);
        }
        plug.pendingIn.clear();
        b.plug = -1;
        b.claimed = false;
        b.reply.reset();
        syspath = b.syspath;
    }
    // The uevent needs the device's properties, so it goes out before the device is taken away.
    umockdev_testbed_uevent(d->testbed, syspath.constData(), "remove");
    umockdev_testbed_remove_device(d->testbed, syspath.constData());
}

void EmulatedBridge::readd(int bridge) {
    const std::lock_guard lock(d->mutex);
    if (d->bridge(bridge).plug < 0)
        d->plugIn(bridge);
}

QString EmulatedBridge::nodeFile(int bridge) const {
    const std::lock_guard lock(d->mutex);
    const Impl::Bridge& b = d->bridge(bridge);
    if (b.plug < 0)
        return {};
    gchar* root = umockdev_testbed_get_root_dir(d->testbed);
    const QString file = QString::fromUtf8(root) + QString::fromLatin1(d->plugs.at(b.plug).node);
    g_free(root);
    return file;
}

void EmulatedBridge::setRegister(std::uint8_t address, std::uint8_t value, int bridge) {
    const std::lock_guard lock(d->mutex);
    d->bridge(bridge).registers[address] = value;
}

std::uint8_t EmulatedBridge::registerValue(std::uint8_t address, int bridge) const {
    const std::lock_guard lock(d->mutex);
    return d->bridge(bridge).registers[address];
}

void EmulatedBridge::setReplyStatus(std::optional<std::uint8_t> status, int bridge) {
    const std::lock_guard lock(d->mutex);
    d->bridge(bridge).replyStatus = status;
}

void EmulatedBridge::setDropReplies(bool drop, int bridge) {
    const std::lock_guard lock(d->mutex);
    d->bridge(bridge).dropReplies = drop;
}

std::vector<QByteArray> EmulatedBridge::outTransfers(int bridge) const {
    const std::lock_guard lock(d->mutex);
    return d->bridge(bridge).outs;
}

std::vector<std::uint32_t> EmulatedBridge::inRequests(int bridge) const {
    const std::lock_guard lock(d->mutex);
    return d->bridge(bridge).ins;
}

void EmulatedBridge::clearRecords(int bridge) {
    const std::lock_guard lock(d->mutex);
    d->bridge(bridge).outs.clear();
    d->bridge(bridge).ins.clear();
}

int EmulatedBridge::pendingInTransfers(int bridge) const {
    const std::lock_guard lock(d->mutex);
    const Impl::Bridge& b = d->bridge(bridge);
    return b.plug < 0 ? 0 : static_cast<int>(d->plugs.at(static_cast<std::size_t>(b.plug)).pendingIn.size());
}

bool EmulatedBridge::interfaceClaimed(int bridge) const {
    const std::lock_guard lock(d->mutex);
    return d->bridge(bridge).claimed;
}

} // namespace regbench::tests
