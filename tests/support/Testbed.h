#pragma once

// Before any Qt header, which would turn glib's "signals" members into a keyword.
#include <umockdev.h>

#include <QByteArray>
#include <QString>

namespace regbench::tests {

// A umockdev testbed, in which devices appear in sysfs and udev and their nodes' ioctls reach a handler of
// the emulation. Create it before the layer under test opens libusb or a udev monitor.
class Testbed {
public:
    Testbed() : bed_(umockdev_testbed_new()) {}
    ~Testbed() { g_object_unref(bed_); }
    Testbed(const Testbed&) = delete;
    Testbed& operator=(const Testbed&) = delete;

    UMockdevTestbed* get() const { return bed_; }
    QString root() const {
        gchar* root = umockdev_testbed_get_root_dir(bed_);
        const QString path = QString::fromUtf8(root);
        g_free(root);
        return path;
    }

    // A handler for a node's ioctls, on umockdev's worker thread. It must be in place before the node
    // appears, or the layer may open the node first.
    template <typename User>
    UMockdevIoctlBase* handle(const QByteArray& node,
                              gboolean (*onIoctl)(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer),
                              User* user) {
        UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
        g_signal_connect(handler, "handle-ioctl", reinterpret_cast<GCallback>(onIoctl), user);
        umockdev_testbed_attach_ioctl(bed_, node.constData(), handler, nullptr);
        return handler;
    }

    // Unplugs a device as the kernel announces it: the event needs the device's properties, so it goes
    // out before the device is taken away.
    void remove(const QByteArray& syspath) {
        umockdev_testbed_uevent(bed_, syspath.constData(), "remove");
        umockdev_testbed_remove_device(bed_, syspath.constData());
    }

private:
    UMockdevTestbed* bed_;
};

} // namespace regbench::tests
