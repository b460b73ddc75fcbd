#include "usb/sim/SimUsbDriver.h"

#include "usb/BridgeBus.h"
#include "usb/BridgeProtocol.h"
#include "usb/BridgeService.h"
#include "usb/TransferWait.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace regbench::usb::sim {

namespace {

constexpr char ReplyPadding = static_cast<char>(0xA5);
constexpr int MaxReplyLength = 1024;

// The bus the bridge's side serves requests on, with the simulated chip alone on it: the chip acknowledges
// everything sent to its address, and nothing else answers.
class ChipBus : public BridgeBus {
public:
    ChipBus(SimChip& chip, std::uint8_t address) : chip_(chip), address_(address) {}
    int readRegister(std::uint8_t chip, std::uint8_t reg, std::uint8_t& value) override {
        if (chip != address_)
            return ENXIO;
        value = chip_.read(reg);
        return 0;
    }
    int writeRegister(std::uint8_t chip, std::uint8_t reg, std::uint8_t value) override {
        if (chip != address_)
            return ENXIO;
        chip_.write(reg, value);
        return 0;
    }

private:
    SimChip& chip_;
    std::uint8_t address_;
};

} // namespace

SimUsbDriver::SimUsbDriver() = default;

SimUsbDriver::~SimUsbDriver() {
    session_.endTransfer(UsbStatus::InvalidHandle);
}

std::uint32_t SimUsbDriver::WDU_VB_Init(std::uint32_t* driverHandle, const MatchEntry* matchTables,
                                        std::uint32_t numMatchTables, const EventTable& eventTable,
                                        std::uint32_t /*options*/, const void* /*windowHandle*/) {
    if (const std::uint32_t status = session_.open(driverHandle, matchTables, numMatchTables, eventTable);
        status != UsbStatus::Success) {
        return status;
    }
    bool present = false;
    for (auto& [id, device] : devices_) {
        if (device.plugged && matches(device)) {
            present = true;
            queueOffer(id);
        }
    }
    if (autoPlug_ && !present) {
        plugBridge();
    }
    return session_.commit(driverHandle);
}

std::uint32_t SimUsbDriver::WDU_SetInterface(std::uint32_t deviceHandle, std::uint32_t interfaceNumber,
                                             std::uint32_t alternateSetting) {
    std::uint32_t status = UsbStatus::Success;
    Device* device = lookup(deviceHandle, status);
    if (device == nullptr) {
        return status;
    }
    if (interfaceNumber != 0 || alternateSetting > 1) {
        return UsbStatus::NotFound;
    }
    device->alternateSetting = alternateSetting;
    return UsbStatus::Success;
}

std::uint32_t SimUsbDriver::WDU_GetDeviceInfo(std::uint32_t deviceHandle, DeviceInfo* info) {
    if (info == nullptr) {
        return UsbStatus::InvalidArgument;
    }
    std::uint32_t status = UsbStatus::Success;
    const Device* device = lookup(deviceHandle, status);
    if (device == nullptr) {
        return status;
    }
    if (deviceInfoStatus_ != UsbStatus::Success) {
        return deviceInfoStatus_;
    }
    *info = describe(*device);
    return UsbStatus::Success;
}

std::uint32_t SimUsbDriver::WDU_Transfer(std::uint32_t deviceHandle, std::uint32_t pipe,
                                         std::uint32_t readFlag, std::uint32_t /*options*/,
                                         std::uint8_t* buffer, std::uint32_t length,
                                         std::uint32_t* bytesTransferred,
                                         const std::array<std::uint8_t, SetupPacketSize>& /*setupPacket*/,
                                         std::uint32_t timeoutMs) {
    return transfer(deviceHandle, pipe, readFlag, buffer, length, bytesTransferred, timeoutMs);
}

std::uint32_t SimUsbDriver::transfer(std::uint32_t deviceHandle, std::uint32_t pipe, std::uint32_t readFlag,
                                     std::uint8_t* buffer, std::uint32_t length,
                                     std::uint32_t* bytesTransferred, std::uint32_t timeoutMs) {
    std::uint32_t ignored = 0;
    std::uint32_t& done = bytesTransferred != nullptr ? *bytesTransferred : ignored;
    done = 0;
    if (readFlag > 1 || (buffer == nullptr && length > 0)) {
        return UsbStatus::InvalidArgument;
    }
    std::uint32_t status = UsbStatus::Success;
    Device* device = lookup(deviceHandle, status);
    if (device == nullptr) {
        return status;
    }
    if (session_.transferWaiting()) {
        return UsbStatus::Busy;
    }
    const bool listed = (pipe == BridgeProtocol::RequestPipe && endpointCount_ >= 1) ||
                        (pipe == BridgeProtocol::ReplyPipe && endpointCount_ >= 2);
    if (!listed) {
        return UsbStatus::NotFound;
    }
    const bool fromDevice = (pipe & 0x80) != 0;
    if (fromDevice != (readFlag != 0)) {
        return UsbStatus::InvalidArgument;
    }
    if (fromDevice) {
        return transferIn(*device, buffer, length, &done, timeoutMs);
    }
    transferOut(*device, QByteArray(reinterpret_cast<const char*>(buffer), static_cast<qsizetype>(length)));
    done = length;
    return UsbStatus::Success;
}

void SimUsbDriver::transferOut(Device& device, const QByteArray& request) {
    // One reply is kept: a new request discards an unread one, so a lost reply never answers the next access.
    ChipBus bus(device.chip, chipAddress_);
    const std::vector<std::uint8_t> bytes(request.begin(), request.end());
    const std::vector<std::uint8_t> served = BridgeService::serve(bus, bytes).reply;
    QByteArray reply(reinterpret_cast<const char*>(served.data()), static_cast<qsizetype>(served.size()));
    applyReplyFaults(reply);
    device.reply = reply;
    device.withheld.reset();
    if (dropReplies_)
        std::swap(device.reply, device.withheld);
    if (requestsUntilUnplug_ > 0 && --requestsUntilUnplug_ == 0) {
        unplugBridge(device.id);
    }
}

std::uint32_t SimUsbDriver::transferIn(Device& device, std::uint8_t* buffer, std::uint32_t length,
                                       std::uint32_t* bytesTransferred, std::uint32_t timeoutMs) {
    if (!device.reply) {
        const std::uint32_t status = waitForReply(device.id, timeoutMs);
        if (status != UsbStatus::Success || !device.reply)
            return status == UsbStatus::Success ? UsbStatus::Other : status;
    }
    const QByteArray reply = *std::exchange(device.reply, std::nullopt);
    const auto size = static_cast<std::uint32_t>(reply.size());
    const std::uint32_t copied = std::min(length, size);
    if (copied > 0) {
        std::memcpy(buffer, reply.constData(), copied);
    }
    *bytesTransferred = copied;
    return size > length ? UsbStatus::Overflow : UsbStatus::Success;
}

// A withheld reply waits as the board's would, for the time-out, unless its release, a removal or
// WDU_VB_Uninit ends the wait early.
std::uint32_t SimUsbDriver::waitForReply(int id, std::uint32_t timeoutMs) {
    TransferEnd end;
    waitingDevice_ = id;
    const std::uint32_t status = session_.waitFor(end, timeoutMs);
    waitingDevice_ = -1;
    return status;
}

void SimUsbDriver::applyReplyFaults(QByteArray& reply) const {
    if (replyStatus_ && !reply.isEmpty()) {
        reply[0] = static_cast<char>(*replyStatus_);
    }
    if (replyLength_) {
        const int wanted = std::clamp(*replyLength_, 0, MaxReplyLength);
        if (wanted < reply.size()) {
            reply.truncate(wanted);
        } else {
            reply.append(wanted - reply.size(), ReplyPadding);
        }
    }
}

QByteArray SimUsbDriver::VB_Stat2Str(std::uint32_t status) {
    return usbStatusText(status);
}

void SimUsbDriver::WDU_VB_Uninit(std::uint32_t driverHandle) {
    if (!session_.closedBy(driverHandle)) {
        return;
    }
    session_.close();
    held_ = -1;
    for (auto& [id, device] : devices_) {
        device.reply.reset();
        device.withheld.reset();
    }
}

// ---- devices and their callbacks

bool SimUsbDriver::matches(const Device& device) const {
    const std::vector<MatchEntry>& match = session_.match();
    return std::any_of(match.begin(), match.end(), [&device](const MatchEntry& entry) {
        return (entry.VendorId == 0 || entry.VendorId == device.vendorId) &&
               (entry.ProductId == 0 || entry.ProductId == device.productId);
    });
}

int SimUsbDriver::plugBridge(std::uint16_t vid, std::uint16_t pid) {
    const int id = nextDeviceId_++;
    Device device;
    device.id = id;
    device.vendorId = vid;
    device.productId = pid;
    const bool offered = session_.isOpen() && matches(device);
    devices_.emplace(id, std::move(device));
    if (offered) {
        queueOffer(id);
    }
    return id;
}

// Accesses answer DeviceGone at once; the callbacks hear of it from the event loop.
void SimUsbDriver::unplugBridge(int id) {
    const auto found = devices_.find(id);
    if (found == devices_.end() || !found->second.plugged) {
        return;
    }
    Device& device = found->second;
    device.plugged = false;
    device.reply.reset();
    device.withheld.reset();
    if (waitingDevice_ == id) {
        session_.endTransfer(UsbStatus::DeviceGone);
    }
    if (held_ == id) {
        held_ = -1;
    }
    if (!session_.isOpen()) {
        return;
    }
    const auto isIt = [id](int offered) { return offered == id; };
    if (Session::Offered* offered = session_.offers().find(isIt)) {
        offered->gone = true;
    }
    session_.post([this, isIt] { session_.offers().remove(isIt); });
}

// A device that left before its turn came is not offered.
void SimUsbDriver::queueOffer(int id) {
    session_.post([this, id] {
        const Device& device = devices_.at(id);
        if (!device.plugged) {
            return;
        }
        if (session_.offers().offer(id, describe(device)) == Session::Offers::Offer::Accepted &&
            devices_.at(id).plugged) {
            held_ = id;
        }
    });
}

SimUsbDriver::Device* SimUsbDriver::lookup(std::uint32_t handle, std::uint32_t& status) {
    const Session::Offered* offered = session_.lookup(handle, status);
    return offered != nullptr ? &devices_.at(offered->device) : nullptr;
}

DeviceInfo SimUsbDriver::describe(const Device& device) const {
    DeviceInfo info = BridgeService::describe(device.vendorId, device.productId);
    info.Descriptor.bcdDevice = 0x0100;
    InterfaceInfo& interface = info.ActiveInterfaces.front();
    interface.NumAltSettings = 2;
    AlternateSettingInfo& setting = interface.ActiveAltSetting;
    setting.Descriptor.bAlternateSetting = static_cast<std::uint8_t>(device.alternateSetting);
    setting.Pipes.resize(static_cast<std::size_t>(endpointCount_));
    setting.Descriptor.bNumEndpoints = static_cast<std::uint8_t>(setting.Pipes.size());
    return info;
}

// ---- test controls

void SimUsbDriver::setAutoPlug(bool on) {
    autoPlug_ = on;
}

void SimUsbDriver::unplugAfterRequests(int n) {
    requestsUntilUnplug_ = std::max(n, 0);
}

SimChip& SimUsbDriver::chip(int id) {
    return devices_.at(id).chip;
}

int SimUsbDriver::heldDevice() const {
    return held_;
}

void SimUsbDriver::setDeviceInfoStatus(std::uint32_t status) {
    deviceInfoStatus_ = status;
}

void SimUsbDriver::setEndpointCount(int count) {
    endpointCount_ = std::clamp(count, 0, 2);
}

void SimUsbDriver::setReplyStatus(std::optional<std::uint8_t> status) {
    replyStatus_ = status;
}

void SimUsbDriver::setReplyLength(std::optional<int> length) {
    replyLength_ = length;
}

void SimUsbDriver::setDropReplies(bool drop) {
    dropReplies_ = drop;
    if (drop)
        return;
    for (auto& [id, device] : devices_) {
        if (!device.withheld)
            continue;
        device.reply = std::exchange(device.withheld, std::nullopt);
        if (waitingDevice_ == id)
            session_.endTransfer(UsbStatus::Success);
    }
}

} // namespace regbench::usb::sim
