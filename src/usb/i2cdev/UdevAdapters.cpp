#include "usb/i2cdev/UdevAdapters.h"

#include <libudev.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace regbench::usb::i2cdev {

namespace {

constexpr const char* Subsystem = "i2c-dev";
constexpr const char* MarkProperty = "REGBENCH_I2C";

std::uint16_t hexAttribute(udev_device* device, const char* name) {
    const char* text = udev_device_get_sysattr_value(device, name);
    return text == nullptr ? 0 : static_cast<std::uint16_t>(std::strtoul(text, nullptr, 16));
}

// The device that provides an adapter is the nearest one above it with a driver bound. That is not always
// the USB interface: a HID device for the HID adapters, a platform device for those of a USB multi-function
// driver, and the USB device itself (bound to "usb") for the buses of TV tuners.
std::string nearestDriver(udev_device* device) {
    // Each parent is borrowed from its child, which keeps it alive.
    for (udev_device* d = device; d != nullptr; d = udev_device_get_parent(d))
        if (const char* driver = udev_device_get_driver(d); driver != nullptr && *driver != '\0')
            return driver;
    return {};
}

// Only reads what udev and sysfs already hold: discovery must never touch the bus.
AdapterRecord describe(udev_device* device) {
    AdapterRecord record;
    record.syspath = udev_device_get_syspath(device);
    const char* node = udev_device_get_devnode(device);
    record.devnode = node != nullptr ? node : "";
    const char* mark = udev_device_get_property_value(device, MarkProperty);
    record.marked = mark != nullptr && std::strcmp(mark, "1") == 0;
    record.driver = nearestDriver(device);
    // Borrowed from device, which keeps its parents alive.
    if (udev_device* usb = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device")) {
        record.vendorId = hexAttribute(usb, "idVendor");
        record.productId = hexAttribute(usb, "idProduct");
    }
    return record;
}

} // namespace

void UdevAdapters::Unref::operator()(udev* u) const {
    udev_unref(u);
}
void UdevAdapters::Unref::operator()(udev_device* d) const {
    udev_device_unref(d);
}
void UdevAdapters::Unref::operator()(udev_enumerate* e) const {
    udev_enumerate_unref(e);
}
void UdevAdapters::Unref::operator()(udev_monitor* m) const {
    udev_monitor_unref(m);
}

UdevAdapters::UdevAdapters() : udev_(udev_new()) {
    if (!udev_)
        return;
    // Watching starts before the listing, so that no adapter can slip between the two; the caller drops
    // what it sees twice. Without a monitor (no netlink, say) the adapters present at start still work.
    std::unique_ptr<udev_monitor, Unref> monitor(udev_monitor_new_from_netlink(udev_.get(), "udev"));
    if (monitor && udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), Subsystem, nullptr) >= 0 &&
        udev_monitor_enable_receiving(monitor.get()) >= 0)
        monitor_ = std::move(monitor);
}

UdevAdapters::~UdevAdapters() = default;

int UdevAdapters::monitorFd() const {
    return monitor_ ? udev_monitor_get_fd(monitor_.get()) : -1;
}

std::vector<AdapterRecord> UdevAdapters::list() const {
    std::vector<AdapterRecord> adapters;
    const std::unique_ptr<udev_enumerate, Unref> enumerate(udev_enumerate_new(udev_.get()));
    if (!enumerate || udev_enumerate_add_match_subsystem(enumerate.get(), Subsystem) < 0 ||
        udev_enumerate_scan_devices(enumerate.get()) < 0)
        return adapters;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get())) {
        const std::unique_ptr<udev_device, Unref> device(
            udev_device_new_from_syspath(udev_.get(), udev_list_entry_get_name(entry)));
        if (device)
            adapters.push_back(describe(device.get()));
    }
    return adapters;
}

std::optional<UdevAdapters::Event> UdevAdapters::receive() const {
    if (!monitor_)
        return std::nullopt;
    const std::unique_ptr<udev_device, Unref> device(udev_monitor_receive_device(monitor_.get()));
    if (!device)
        return std::nullopt;
    const char* action = udev_device_get_action(device.get());
    Event event;
    if (action != nullptr && std::strcmp(action, "remove") == 0) {
        event.action = Action::Remove;
        event.adapter.syspath = udev_device_get_syspath(device.get());
        return event;
    }
    event.action = action != nullptr && std::strcmp(action, "add") == 0 ? Action::Add : Action::Change;
    event.adapter = describe(device.get());
    return event;
}

} // namespace regbench::usb::i2cdev
