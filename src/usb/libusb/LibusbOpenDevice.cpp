#include "usb/libusb/LibusbOpenDevice.h"

#include "usb/libusb/LibusbStatus.h"

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
    libusb_device_handle* handle = nullptr;
    if (const int error = libusb_open(device_.get(), &handle); error != 0) {
        openStatus_ = usbStatusFromLibusb(error);
        return;
    }
    handle_.reset(handle);
    // Not every platform can detach a kernel driver; claiming then reports the conflict itself.
    libusb_set_auto_detach_kernel_driver(handle, 1);
    if (const int error = libusb_claim_interface(handle, ClaimedInterface); error != 0) {
        openStatus_ = usbStatusFromLibusb(error);
        handle_.reset();
        return;
    }
    claim_ = ClaimedInterfacePtr(handle, InterfaceReleaser{ClaimedInterface});
    openStatus_ = UsbStatus::Success;
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

std::uint32_t LibusbOpenDevice::transfer(std::uint32_t pipe, bool deviceToHost, std::uint8_t* buffer,
                                         std::uint32_t length, std::uint32_t& transferred,
                                         const std::array<std::uint8_t, SetupPacketSize>& setup,
                                         std::uint32_t timeoutMs) {
    transferred = 0;
    if (!handle_)
        return openStatus_;
    if (pipe == 0)
        return controlTransfer(deviceToHost, buffer, length, transferred, setup, timeoutMs);
    if (length > INT_MAX)
        return UsbStatus::InvalidArgument;
    const int type = pipe > UINT8_MAX ? -1 : endpointType(static_cast<std::uint8_t>(pipe));
    if (type < 0)
        return UsbStatus::NotFound;
    const auto endpoint = static_cast<std::uint8_t>(pipe);
    if (((endpoint & LIBUSB_ENDPOINT_IN) != 0) != deviceToHost)
        return UsbStatus::InvalidArgument;
    int done = 0;
    int result = 0;
    if (type == LIBUSB_TRANSFER_TYPE_BULK)
        result =
            libusb_bulk_transfer(handle_.get(), endpoint, buffer, static_cast<int>(length), &done, timeoutMs);
    else if (type == LIBUSB_TRANSFER_TYPE_INTERRUPT)
        result = libusb_interrupt_transfer(handle_.get(), endpoint, buffer, static_cast<int>(length), &done,
                                           timeoutMs);
    else
        return UsbStatus::NotSupported;
    transferred = static_cast<std::uint32_t>(done);
    return usbStatusFromLibusb(result);
}

std::uint32_t LibusbOpenDevice::controlTransfer(bool deviceToHost, std::uint8_t* buffer, std::uint32_t length,
                                                std::uint32_t& transferred,
                                                const std::array<std::uint8_t, SetupPacketSize>& setup,
                                                std::uint32_t timeoutMs) {
    const std::uint8_t requestType = setup[0];
    const auto word = [&setup](std::size_t at) {
        return static_cast<std::uint16_t>(setup[at] | setup[at + 1] << 8);
    };
    const std::uint16_t dataLength = word(6);
    // The setup packet decides the direction and size; the caller's flag and buffer must agree with it.
    if (((requestType & LIBUSB_ENDPOINT_IN) != 0) != deviceToHost || dataLength > length ||
        (buffer == nullptr && dataLength > 0))
        return UsbStatus::InvalidArgument;
    const int result = libusb_control_transfer(handle_.get(), requestType, setup[1], word(2), word(4), buffer,
                                               dataLength, timeoutMs);
    if (result < 0)
        return usbStatusFromLibusb(result);
    transferred = static_cast<std::uint32_t>(result);
    return UsbStatus::Success;
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
