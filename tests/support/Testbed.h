#pragma once

// Before any Qt header, which would turn glib's "signals" members into a keyword.
#include <umockdev.h>

#include "support/Emulated.h"

#include <QByteArray>
#include <QFile>

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
// goes, its destructor what is still pending at the end; Device::state, hold() and waiting() serve
// Emulated's.
template <typename Device> class Testbed {
public:
    Testbed() : testbed_(umockdev_testbed_new()) {}
    ~Testbed() {
        with([this] {
            for (Slot& slot : slots_) {
                g_signal_handlers_disconnect_by_data(slot.handler, &slot);
                g_object_unref(slot.handler);
            }
        });
        slots_.clear();
        g_object_unref(testbed_);
    }

    int count() const {
        return with([this] { return static_cast<int>(slots_.size()); });
    }

    // Adds the device described in umockdev-record's text. Its node's handler is in place before the node
    // appears, or the layer might open the node first.
    int add(const QByteArray& node, const QByteArray& syspath, const QByteArray& records) {
        return with([&] {
            Slot& slot = slots_.emplace_back(this, umockdev_ioctl_base_new(), node, syspath);
            g_signal_connect(slot.handler, "handle-ioctl", reinterpret_cast<GCallback>(&onIoctl), &slot);
            umockdev_testbed_attach_ioctl(testbed_, node.constData(), slot.handler, nullptr);
            umockdev_testbed_add_from_string(testbed_, records.constData(), nullptr);
            return static_cast<int>(slots_.size()) - 1;
        });
    }

    // Sets a udev property of the device later, with the "change" event that `udevadm trigger` sends.
    void change(int device, const char* property, const char* value) {
        const QByteArray path = with(device, [](const Slot& s) { return s.syspath; });
        umockdev_testbed_set_property(testbed_, path.constData(), property, value);
        umockdev_testbed_uevent(testbed_, path.constData(), "change");
    }

    // Runs f under the lock, on one device's slot or on none.
    template <typename F> auto with(F f) const {
        const std::lock_guard lock(mutex_);
        return f();
    }
    template <typename F> auto with(int device, F f) {
        return with([&] { return f(slots_.at(device)); });
    }

private:
    template <typename, typename> friend class Emulated;
    struct Slot {
        Testbed* owner;
        UMockdevIoctlBase* handler;
        QByteArray node, syspath;
        bool removed = false;
        int ioctls = 0;
        Device device{};
    };
    static gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user) {
        auto* slot = static_cast<Slot*>(user);
        const std::lock_guard lock(slot->owner->mutex_);
        ++slot->ioctls;
        slot->device.ioctl(client, slot->removed);
        return TRUE;
    }

    UMockdevTestbed* testbed_;
    mutable std::mutex mutex_;
    std::deque<Slot> slots_;
};

template <typename D, typename S> Emulated<D, S>::Emulated() : bed_(std::make_unique<Testbed<D>>()) {}

template <typename D, typename S> Emulated<D, S>::~Emulated() = default;

// The kernel's event needs the device's properties, so it goes out before the device is taken away.
template <typename D, typename S> void Emulated<D, S>::remove(int device) {
    const QByteArray path = bed_->with(device, [](auto& s) {
        s.removed = true;
        s.device.unplug();
        return s.syspath;
    });
    umockdev_testbed_uevent(bed_->testbed_, path.constData(), "remove");
    umockdev_testbed_remove_device(bed_->testbed_, path.constData());
}

template <typename D, typename S> bool Emulated<D, S>::deny(bool on, int device) {
    g_autofree gchar* root = umockdev_testbed_get_root_dir(bed_->testbed_);
    return QFile::setPermissions(QString::fromUtf8(root) + bed_->with(device, [](auto& s) { return s.node; }),
                                 on ? QFile::Permissions() : QFile::ReadOwner | QFile::WriteOwner);
}

template <typename D, typename S> int Emulated<D, S>::ioctls(int device) const {
    return bed_->with(device, [](auto& s) { return s.ioctls; });
}

template <typename D, typename S> void Emulated<D, S>::hold(bool on, int device) {
    bed_->with(device, [on](auto& s) { s.device.hold(on); });
}

template <typename D, typename S> int Emulated<D, S>::waiting(int device) const {
    return bed_->with(device, [](auto& s) { return s.device.waiting(); });
}

template <typename D, typename S> S Emulated<D, S>::state(int device) const {
    return bed_->with(device, [](auto& s) { return s.device.state; });
}

template <typename D, typename S>
void Emulated<D, S>::edit(const std::function<void(S&)>& change, int device) {
    bed_->with(device, [&](auto& s) { change(s.device.state); });
}

} // namespace regbench::tests
