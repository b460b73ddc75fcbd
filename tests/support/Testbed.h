#pragma once

// Before any Qt header, which would turn glib's "signals" members into a keyword.
#include <umockdev.h>

#include <QByteArray>
#include <QString>

#include <deque>
#include <memory>
#include <mutex>

namespace regbench::tests {

// A resolved copy of part of an ioctl caller's memory: changes go back to the caller on completion.
using Memory = std::shared_ptr<UMockdevIoctlData>;
inline Memory resolve(UMockdevIoctlData* from, std::size_t offset, std::size_t size) {
    return Memory(umockdev_ioctl_data_resolve(from, offset, size, nullptr), g_object_unref);
}
template <typename T> T* as(const Memory& memory) {
    return reinterpret_cast<T*>(memory->data);
}

// Devices emulated at the kernel interface in a umockdev testbed, numbered 0, 1, ... as they are added: they
// appear in sysfs and udev, and their nodes' ioctls reach Device::ioctl(client, removed) on umockdev's worker
// thread, under the one lock that guards every device. Device::unplug() ends what is pending when its device
// goes, its destructor what is still pending at the end. Create it before the layer under test opens libusb
// or a udev monitor.
template <typename Device> class Testbed {
public:
    Testbed() : bed_(umockdev_testbed_new()) {}
    ~Testbed() {
        with([this] {
            for (Slot& slot : slots_) {
                g_signal_handlers_disconnect_by_data(slot.handler, &slot);
                g_object_unref(slot.handler);
            }
        });
        slots_.clear();
        g_object_unref(bed_);
    }

    int count() const {
        return with([this] { return static_cast<int>(slots_.size()); });
    }
    QString nodeFile(int device) const {
        gchar* root = umockdev_testbed_get_root_dir(bed_);
        const QString path =
            QString::fromUtf8(root) + with([&] { return QString::fromLatin1(slots_.at(device).node); });
        g_free(root);
        return path;
    }

    // Adds the device described in umockdev-record's text. Its node's handler is in place before the node
    // appears, or the layer might open the node first.
    int add(const QByteArray& node, const QByteArray& syspath, const QByteArray& records) {
        return with([&] {
            Slot& slot = slots_.emplace_back(this, umockdev_ioctl_base_new(), node, syspath);
            g_signal_connect(slot.handler, "handle-ioctl", reinterpret_cast<GCallback>(&onIoctl), &slot);
            umockdev_testbed_attach_ioctl(bed_, node.constData(), slot.handler, nullptr);
            umockdev_testbed_add_from_string(bed_, records.constData(), nullptr);
            return static_cast<int>(slots_.size()) - 1;
        });
    }

    // Unplugs a device as the kernel announces it: the event needs the device's properties, so it goes
    // out before the device is taken away.
    void remove(int device) {
        const QByteArray path = with([&] {
            slots_.at(device).removed = true;
            slots_.at(device).device.unplug();
            return slots_.at(device).syspath;
        });
        umockdev_testbed_uevent(bed_, path.constData(), "remove");
        umockdev_testbed_remove_device(bed_, path.constData());
    }

    // Sets a udev property of the device later, with the "change" event that `udevadm trigger` sends.
    void change(int device, const char* property, const char* value) {
        const QByteArray path = with([&] { return slots_.at(device).syspath; });
        umockdev_testbed_set_property(bed_, path.constData(), property, value);
        umockdev_testbed_uevent(bed_, path.constData(), "change");
    }

    // Runs f under the lock, on one device or on none.
    template <typename F> auto with(F f) const {
        const std::lock_guard lock(mutex_);
        return f();
    }
    template <typename F> auto with(int device, F f) {
        return with([&] { return f(slots_.at(device).device); });
    }

private:
    struct Slot {
        Testbed* owner;
        UMockdevIoctlBase* handler;
        QByteArray node;
        QByteArray syspath;
        bool removed = false;
        Device device{};
    };
    static gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user) {
        auto* slot = static_cast<Slot*>(user);
        const std::lock_guard lock(slot->owner->mutex_);
        slot->device.ioctl(client, slot->removed);
        return TRUE;
    }

    UMockdevTestbed* bed_;
    mutable std::mutex mutex_;
    std::deque<Slot> slots_;
};

} // namespace regbench::tests
