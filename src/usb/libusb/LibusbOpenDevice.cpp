#include "usb/libusb/LibusbOpenDevice.h"

#include "usb/libusb/LibusbStatus.h"

#include <algorithm>
#include <climits>
#include <utility>

namespace regbench::usb::libusb {

namespace {

constexpr int ClaimedInterface = 0;

const libusb_interface_descriptor* findSetting(const libusb_interface& interface, std::uint8_t alternate) {
    for (int i = 0; i < interface.num_altsetting; ++i) {
        if (interface.altsetting[i].bAlternateSetting == alternate)
            return &interface.altsetting[i];
    }
    return interface.num_altsetting > 0 ? &interface.altsetting[0] : nullptr;
}

InterfaceInfo describeSetting(const libusb_interface& interface, const libusb_interface_descriptor& setting) {
    InterfaceInfo result;
    result.NumAltSettings = static_cast<std::uint32_t>(interface.num_altsetting);
    InterfaceDescriptor& d = result.ActiveAltSetting.Descriptor;
    d.bLength = setting.bLength;
    d.bDescriptorType = setting.bDescriptorType;
    d.bInterfaceNumber = setting.bInterfaceNumber;
    d.bAlternateSetting = setting.bAlternateSetting;
    d.bNumEndpoints = setting.bNumEndpoints;
    d.bInterfaceClass = setting.bInterfaceClass;
    d.bInterfaceSubClass = setting.bInterfaceSubClass;
    d.bInterfaceProtocol = setting.bInterfaceProtocol;
    d.iInterface = setting.iInterface;
    for (int e = 0; e < setting.bNumEndpoints; ++e) {
        const libusb_endpoint_descriptor& endpoint = setting.endpoint[e];
        PipeInfo pipe;
        pipe.Number = endpoint.bEndpointAddress;
        pipe.MaximumPacketSize = endpoint.wMaxPacketSize;
        pipe.Type = static_cast<PipeType>(endpoint.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK);
        pipe.Interval = endpoint.bInterval;
        result.ActiveAltSetting.Pipes.push_back(pipe);
    }
    return result;
}

void copyDescriptor(const libusb_device_descriptor& from, DeviceDescriptor& to) {
    to.bLength = from.bLength;
    to.bDescriptorType = from.bDescriptorType;
    to.bcdUSB = from.bcdUSB;
    to.bDeviceClass = from.bDeviceClass;
    to.bDeviceSubClass = from.bDeviceSubClass;
    to.bDeviceProtocol = from.bDeviceProtocol;
    to.bMaxPacketSize0 = from.bMaxPacketSize0;
    to.idVendor = from.idVendor;
    to.idProduct = from.idProduct;
    to.bcdDevice = from.bcdDevice;
    to.iManufacturer = from.iManufacturer;
    to.iProduct = from.iProduct;
    to.iSerialNumber = from.iSerialNumber;
    to.bNumConfigurations = from.bNumConfigurations;
}

} // namespace

LibusbOpenDevice::LibusbOpenDevice(DevicePtr device) : device_(std::move(device)) {
    open();
}

std::uint32_t LibusbOpenDevice::open() {
    if (handle_)
        return openStatus_;
    libusb_device_handle* handle = nullptr;
    if (const int error = libusb_open(device_.get(), &handle); error != 0)
        return openStatus_ = usbStatusFromLibusb(error);
    handle_.reset(handle);
    // Not every platform can detach a kernel driver; claiming then reports the conflict itself.
    libusb_set_auto_detach_kernel_driver(handle, 1);
    if (const int error = libusb_claim_interface(handle, ClaimedInterface); error != 0) {
        handle_.reset();
        return openStatus_ = usbStatusFromLibusb(error);
    }
    claim_ = ClaimedInterfacePtr(handle, InterfaceReleaser{ClaimedInterface});
    return openStatus_ = UsbStatus::Success;
}

std::uint32_t LibusbOpenDevice::describe(DeviceInfo& info) const {
    libusb_device_descriptor descriptor{};
    if (const int result = libusb_get_device_descriptor(device_.get(), &descriptor); result != 0)
        return usbStatusFromLibusb(result);
    info = DeviceInfo{};
    copyDescriptor(descriptor, info.Descriptor);
    int error = 0;
    const ConfigDescriptorPtr config = activeConfig(device_.get(), &error);
    if (!config)
        return usbStatusFromLibusb(error);
    for (int i = 0; i < config->bNumInterfaces; ++i) {
        const libusb_interface& interface = config->interface[i];
        if (interface.num_altsetting <= 0)
            continue;
        const std::uint8_t number = interface.altsetting[0].bInterfaceNumber;
        if (const auto* setting = findSetting(interface, activeAlternate(number)))
            info.ActiveInterfaces.push_back(describeSetting(interface, *setting));
    }
    return UsbStatus::Success;
}

std::uint32_t LibusbOpenDevice::setInterface(std::uint32_t interfaceNumber, std::uint32_t alternateSetting) {
    if (!handle_)
        return openStatus_;
    if (interfaceNumber > UINT8_MAX || alternateSetting > UINT8_MAX)
        return UsbStatus::InvalidArgument;
    const int result = libusb_set_interface_alt_setting(handle_.get(), static_cast<int>(interfaceNumber),
                                                        static_cast<int>(alternateSetting));
    if (result == 0)
        alternates_[static_cast<std::uint8_t>(interfaceNumber)] = static_cast<std::uint8_t>(alternateSetting);
    return usbStatusFromLibusb(result);
}

std::shared_ptr<LibusbOpenDevice::InFlight>
LibusbOpenDevice::prepare(bool deviceToHost, const std::uint8_t* buffer, std::uint32_t length,
                          std::size_t setupSize, std::uint32_t& status) const {
    auto flight = std::make_shared<InFlight>();
    flight->transfer.reset(libusb_alloc_transfer(0));
    if (!flight->transfer) {
        status = UsbStatus::Other;
        return nullptr;
    }
    flight->deviceToHost = deviceToHost;
    flight->dataOffset = setupSize;
    flight->data.assign(setupSize + length, 0);
    if (!deviceToHost && length > 0)
        std::copy(buffer, buffer + length, flight->data.begin() + static_cast<std::ptrdiff_t>(setupSize));
    return flight;
}

namespace {

// Runs on libusb's event thread.
void LIBUSB_CALL transferEnded(libusb_transfer* transfer) {
    auto* flight = static_cast<LibusbOpenDevice::InFlight*>(transfer->user_data);
    flight->actualLength = transfer->actual_length;
    flight->end.finish(usbStatusFromTransfer(transfer->status));
}

} // namespace

std::shared_ptr<LibusbOpenDevice::InFlight>
LibusbOpenDevice::submit(std::uint32_t pipe, bool deviceToHost, const std::uint8_t* buffer,
                         std::uint32_t length, const std::array<std::uint8_t, SetupPacketSize>& setup,
                         std::uint32_t timeoutMs, std::uint32_t& status) {
    status = openStatus_;
    if (!handle_)
        return nullptr;
    std::shared_ptr<InFlight> flight;
    if (pipe == 0) {
        const std::uint8_t requestType = setup[0];
        const auto dataLength = static_cast<std::uint16_t>(setup[6] | setup[7] << 8);
        // The setup packet decides the direction and size; the caller's flag and buffer must agree with it.
        if (((requestType & LIBUSB_ENDPOINT_IN) != 0) != deviceToHost || dataLength > length ||
            (buffer == nullptr && dataLength > 0)) {
            status = UsbStatus::InvalidArgument;
            return nullptr;
        }
        if (!(flight = prepare(deviceToHost, buffer, dataLength, LIBUSB_CONTROL_SETUP_SIZE, status)))
            return nullptr;
        std::copy(setup.begin(), setup.end(), flight->data.begin());
        libusb_fill_control_transfer(flight->transfer.get(), handle_.get(), flight->data.data(),
                                     transferEnded, flight.get(), timeoutMs);
    } else {
        if (length > INT_MAX) {
            status = UsbStatus::InvalidArgument;
            return nullptr;
        }
        const int type = pipe > UINT8_MAX ? -1 : endpointType(static_cast<std::uint8_t>(pipe));
        const auto endpoint = static_cast<std::uint8_t>(pipe);
        if (type < 0 || ((endpoint & LIBUSB_ENDPOINT_IN) != 0) != deviceToHost) {
            status = type < 0 ? UsbStatus::NotFound : UsbStatus::InvalidArgument;
            return nullptr;
        }
        if (type != LIBUSB_TRANSFER_TYPE_BULK && type != LIBUSB_TRANSFER_TYPE_INTERRUPT) {
            status = UsbStatus::NotSupported;
            return nullptr;
        }
        if (!(flight = prepare(deviceToHost, buffer, length, 0, status)))
            return nullptr;
        libusb_fill_bulk_transfer(flight->transfer.get(), handle_.get(), endpoint, flight->data.data(),
                                  static_cast<int>(length), transferEnded, flight.get(), timeoutMs);
        flight->transfer->type = static_cast<unsigned char>(type);
    }
    status = usbStatusFromLibusb(libusb_submit_transfer(flight->transfer.get()));
    return status == UsbStatus::Success ? flight : nullptr;
}

std::uint32_t LibusbOpenDevice::collect(const InFlight& flight, std::uint8_t* buffer, std::uint32_t length) {
    const auto moved = static_cast<std::uint32_t>(std::max(flight.actualLength, 0));
    if (flight.deviceToHost) {
        const std::uint32_t copied = std::min(moved, length);
        const auto from = flight.data.begin() + static_cast<std::ptrdiff_t>(flight.dataOffset);
        std::copy(from, from + copied, buffer);
        return copied;
    }
    return moved;
}

int LibusbOpenDevice::endpointType(std::uint8_t endpoint) const {
    const ConfigDescriptorPtr config = activeConfig(device_.get());
    if (!config)
        return -1;
    for (int i = 0; i < config->bNumInterfaces; ++i) {
        const libusb_interface& interface = config->interface[i];
        if (interface.num_altsetting <= 0 || interface.altsetting[0].bInterfaceNumber != ClaimedInterface)
            continue;
        const auto* setting = findSetting(interface, activeAlternate(ClaimedInterface));
        for (int e = 0; setting != nullptr && e < setting->bNumEndpoints; ++e) {
            if (setting->endpoint[e].bEndpointAddress == endpoint)
                return setting->endpoint[e].bmAttributes & LIBUSB_TRANSFER_TYPE_MASK;
        }
    }
    return -1;
}

std::uint8_t LibusbOpenDevice::activeAlternate(std::uint8_t interfaceNumber) const {
    const auto it = alternates_.find(interfaceNumber);
    return it == alternates_.end() ? 0 : it->second;
}

} // namespace regbench::usb::libusb
