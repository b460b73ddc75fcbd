#include "usb/libusb/LibusbDriver.h"

#include "usb/libusb/LibusbEventThread.h"
#include "usb/libusb/LibusbStatus.h"

#include <chrono>
#include <utility>

namespace regbench::usb::libusb {

namespace {

int matchField(std::uint32_t value) {
    return value == 0 ? LIBUSB_HOTPLUG_MATCH_ANY : static_cast<int>(value);
}

bool hasInterface(libusb_device* device, const MatchEntry& entry) {
    const ConfigDescriptorPtr config = activeConfig(device);
    if (!config)
        return false;
    for (int i = 0; i < config->bNumInterfaces; ++i) {
        const libusb_interface& interface = config->interface[i];
        for (int a = 0; a < interface.num_altsetting; ++a) {
            const libusb_interface_descriptor& setting = interface.altsetting[a];
            if ((entry.InterfaceClass == 0 || entry.InterfaceClass == setting.bInterfaceClass) &&
                (entry.InterfaceSubClass == 0 || entry.InterfaceSubClass == setting.bInterfaceSubClass) &&
                (entry.InterfaceProtocol == 0 || entry.InterfaceProtocol == setting.bInterfaceProtocol))
                return true;
        }
    }
    return false;
}

} // namespace

LibusbDriver::LibusbDriver() = default;

LibusbDriver::~LibusbDriver() {
    if (session_.isOpen())
        shutdown();
}

std::uint32_t LibusbDriver::WDU_VB_Init(std::uint32_t* driverHandle, const MatchEntry* matchTables,
                                        std::uint32_t numMatchTables, const EventTable& eventTable,
                                        std::uint32_t /*options*/, const void* /*windowHandle*/) {
    if (const std::uint32_t status = session_.open(driverHandle, matchTables, numMatchTables, eventTable);
        status != UsbStatus::Success)
        return status;
    libusb_context* context = nullptr;
    if (const int error = libusb_init(&context); error != 0) {
        session_.close();
        return usbStatusFromLibusb(error);
    }
    context_.reset(context);
    eventThread_ = std::make_unique<LibusbEventThread>(context_.get());
    if (const std::uint32_t status = startWatching(); status != UsbStatus::Success) {
        shutdown();
        return status;
    }
    return session_.commit(driverHandle);
}

std::uint32_t LibusbDriver::startWatching() {
    if (libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) == 0)
        return UsbStatus::NotSupported;
    // Hot-plug callbacks must not do I/O; they only queue the work for the thread of WDU_VB_Init.
    const auto callback = [](libusb_context*, libusb_device* device, libusb_hotplug_event event,
                             void* user) -> int {
        auto* self = static_cast<LibusbDriver*>(user);
        if (event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED)
            self->queueArrival(device);
        else
            self->queueRemoval(device);
        return 0;
    };
    const auto events =
        static_cast<int>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED) | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT;
    for (const MatchEntry& entry : session_.match()) {
        // Present devices are reported inside the registering call, on this thread.
        libusb_hotplug_callback_handle registration = 0;
        const int error = libusb_hotplug_register_callback(
            context_.get(), events, LIBUSB_HOTPLUG_ENUMERATE, matchField(entry.VendorId),
            matchField(entry.ProductId), matchField(entry.DeviceClass), callback, this, &registration);
        if (error != 0)
            return usbStatusFromLibusb(error);
        hotplug_.emplace_back(context_.get(), HotplugDeregisterer{registration});
    }
    return UsbStatus::Success;
}

bool LibusbDriver::matches(libusb_device* device) const {
    libusb_device_descriptor d{};
    if (libusb_get_device_descriptor(device, &d) != 0)
        return false;
    for (const MatchEntry& m : session_.match()) {
        if ((m.VendorId != 0 && m.VendorId != d.idVendor) ||
            (m.ProductId != 0 && m.ProductId != d.idProduct) ||
            (m.DeviceClass != 0 && m.DeviceClass != d.bDeviceClass) ||
            (m.DeviceSubClass != 0 && m.DeviceSubClass != d.bDeviceSubClass))
            continue;
        if ((m.InterfaceClass == 0 && m.InterfaceSubClass == 0 && m.InterfaceProtocol == 0) ||
            hasInterface(device, m))
            return true;
    }
    return false;
}

void LibusbDriver::queueArrival(libusb_device* device) {
    auto ref = std::make_shared<DevicePtr>(referenceDevice(device));
    session_.post([this, ref] { handleArrival(std::move(*ref)); });
}

void LibusbDriver::queueRemoval(libusb_device* device) {
    auto ref = std::make_shared<DevicePtr>(referenceDevice(device));
    session_.post([this, ref] {
        // Only compared from here on: a device we hold stays alive through our own reference.
        libusb_device* raw = ref->get();
        ref->reset();
        session_.offers().remove([raw](const auto& held) { return held->device() == raw; });
    });
}

void LibusbDriver::handleArrival(DevicePtr device) {
    if (!matches(device.get()) || session_.offers().find([&device](const auto& held) {
            return held->device() == device.get();
        }) != nullptr)
        return;
    auto opened = std::make_unique<LibusbOpenDevice>(std::move(device));
    DeviceInfo info;
    opened->describe(info);
    session_.offers().offer(std::move(opened), info);
}

LibusbDriver::Offered* LibusbDriver::lookup(std::uint32_t handle, std::uint32_t& status) {
    Offered* held = session_.lookup(handle, status);
    if (held != nullptr)
        status = held->device->open();
    return status == UsbStatus::Success ? held : nullptr;
}

std::uint32_t LibusbDriver::WDU_SetInterface(std::uint32_t deviceHandle, std::uint32_t interfaceNumber,
                                             std::uint32_t alternateSetting) {
    std::uint32_t status = UsbStatus::Success;
    Offered* held = lookup(deviceHandle, status);
    if (held == nullptr)
        return status;
    status = held->device->setInterface(interfaceNumber, alternateSetting);
    if (status == UsbStatus::DeviceGone)
        held->gone = true;
    return status;
}

std::uint32_t LibusbDriver::WDU_GetDeviceInfo(std::uint32_t deviceHandle, DeviceInfo* info) {
    if (info == nullptr)
        return UsbStatus::InvalidArgument;
    std::uint32_t status = UsbStatus::Success;
    Offered* held = lookup(deviceHandle, status);
    if (held == nullptr)
        return status;
    return held->device->describe(*info);
}

std::uint32_t LibusbDriver::WDU_Transfer(std::uint32_t deviceHandle, std::uint32_t pipe,
                                         std::uint32_t readFlag, std::uint32_t /*options*/,
                                         std::uint8_t* buffer, std::uint32_t length,
                                         std::uint32_t* bytesTransferred,
                                         const std::array<std::uint8_t, SetupPacketSize>& setupPacket,
                                         std::uint32_t timeoutMs) {
    if (bytesTransferred != nullptr)
        *bytesTransferred = 0;
    if (readFlag > 1 || (buffer == nullptr && length > 0))
        return UsbStatus::InvalidArgument;
    std::uint32_t status = UsbStatus::Success;
    Offered* held = lookup(deviceHandle, status);
    if (held == nullptr)
        return status;
    if (session_.transferWaiting())
        return UsbStatus::Busy;
    const auto flight =
        held->device->submit(pipe, readFlag == 1, buffer, length, setupPacket, timeoutMs, status);
    if (!flight) {
        if (status == UsbStatus::DeviceGone)
            held->gone = true;
        return status;
    }
    // libusb keeps the time-out.
    flight_ = flight;
    const std::uint32_t session = session_.handle();
    status = session_.waitFor(flight->end, 0);
    if (session_.handle() != session)
        return status; // closed meanwhile: the flight was cancelled and freed, and the handle with it
    flight_.reset();
    const std::uint32_t done = LibusbOpenDevice::collect(*flight, buffer, length);
    if (bytesTransferred != nullptr)
        *bytesTransferred = done;
    if (status == UsbStatus::DeviceGone) {
        if (Offered* still = lookup(deviceHandle, status))
            still->gone = true;
        status = UsbStatus::DeviceGone;
    }
    return status;
}

QByteArray LibusbDriver::VB_Stat2Str(std::uint32_t status) {
    if (status == UsbStatus::NoPermission)
        return noPermissionText("the USB device", "plug the bridge in again or run udevadm trigger");
    return usbStatusText(status);
}

void LibusbDriver::WDU_VB_Uninit(std::uint32_t driverHandle) {
    if (session_.closedBy(driverHandle))
        shutdown();
}

void LibusbDriver::landFlight() {
    if (!flight_)
        return;
    // The event thread must still run to see the cancel through, or the completion that beat it; a second is
    // far more than either takes.
    if (!flight_->end.status()) {
        libusb_cancel_transfer(flight_->transfer.get());
        flight_->end.awaitBlocking(std::chrono::seconds(1));
    }
    flight_->end.finish(UsbStatus::InvalidHandle);
    flight_->transfer.reset();
    flight_.reset();
}

void LibusbDriver::shutdown() {
    landFlight();
    if (eventThread_)
        eventThread_->requestStop();
    hotplug_.clear();
    eventThread_.reset(); // no other thread posts from here on
    // Queued arrivals and removals die here, unrun, releasing their device references before libusb_exit.
    session_.close();
    context_.reset();
}

} // namespace regbench::usb::libusb
