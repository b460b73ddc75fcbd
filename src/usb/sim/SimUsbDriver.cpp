#include "usb/sim/SimUsbDriver.h"

#include "usb/TransferWait.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <utility>

namespace regbench::usb::sim {

namespace {

// The bridge's request and reply bytes.
constexpr std::uint8_t OpWrite = 0x00;
constexpr std::uint8_t OpRead = 0x01;
constexpr std::uint8_t SlaveWriteAddress = 0x38;
constexpr std::uint8_t SlaveReadAddress = 0x39;
constexpr std::uint8_t ReplyOk = 0x00;
constexpr std::uint8_t ReplyNoAck = 0x40;
constexpr std::uint8_t ReplyGeneralError = 0x80;
constexpr std::uint8_t IdleBus = 0xFF; // what a read of a silent slave returns: the pulled-up bus
constexpr char ReplyPadding = static_cast<char>(0xA5);
constexpr int MaxReplyLength = 1024;

QByteArray bytes(std::initializer_list<std::uint8_t> values) {
    QByteArray result;
    for (std::uint8_t value : values) {
        result.append(static_cast<char>(value));
    }
    return result;
}

} // namespace

SimUsbDriver::SimUsbDriver() = default;

SimUsbDriver::~SimUsbDriver() {
    endWaitingTransfer(UsbStatus::InvalidHandle);
}

std::uint32_t SimUsbDriver::WDU_VB_Init(std::uint32_t* driverHandle, const MatchEntry* matchTables,
                                        std::uint32_t numMatchTables, const EventTable& eventTable,
                                        std::uint32_t /*options*/, const void* /*windowHandle*/) {
    if (initStatus_ != UsbStatus::Success) {
        return initStatus_;
    }
    if (driverHandle == nullptr || (matchTables == nullptr && numMatchTables > 0)) {
        return UsbStatus::InvalidArgument;
    }
    if (open_) {
        return UsbStatus::Busy;
    }
    match_.assign(matchTables, matchTables + numMatchTables);
    events_ = eventTable;
    handOver_ = std::make_unique<HandOver>();
    open_ = true;
    driverHandle_ = driverHandleValue_;
    *driverHandle = driverHandle_;

    bool present = false;
    for (auto& [id, device] : devices_) {
        if (device.plugged && matches(device)) {
            present = true;
            offer(id);
        }
    }
    if (autoPlug_ && !present) {
        plugBridge();
    }
    return UsbStatus::Success;
}

std::uint32_t SimUsbDriver::WDU_SetInterface(std::uint32_t deviceHandle, std::uint32_t interfaceNumber,
                                             std::uint32_t alternateSetting) {
    ++setInterfaceCalls_;
    std::uint32_t status = UsbStatus::Success;
    Device* device = deviceFor(deviceHandle, status);
    if (device == nullptr) {
        return status;
    }
    if (setInterfaceStatus_ != UsbStatus::Success) {
        return setInterfaceStatus_;
    }
    if (interfaceNumber != 0 || alternateSetting > 1) {
        return UsbStatus::NotFound;
    }
    device->alternateSetting = alternateSetting;
    return UsbStatus::Success;
}

std::uint32_t SimUsbDriver::WDU_GetDeviceInfo(std::uint32_t deviceHandle, DeviceInfo* info) {
    ++deviceInfoCalls_;
    if (info == nullptr) {
        return UsbStatus::InvalidArgument;
    }
    std::uint32_t status = UsbStatus::Success;
    const Device* device = deviceFor(deviceHandle, status);
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
                                         std::uint32_t readFlag, std::uint32_t options, std::uint8_t* buffer,
                                         std::uint32_t length, std::uint32_t* bytesTransferred,
                                         const std::array<std::uint8_t, SetupPacketSize>& setupPacket,
                                         std::uint32_t timeoutMs) {
    TransferRecord record;
    record.handle = deviceHandle;
    record.pipe = pipe;
    record.readFlag = readFlag;
    record.options = options;
    record.length = length;
    record.timeoutMs = timeoutMs;
    record.bufferNull = buffer == nullptr;
    record.setup = setupPacket;
    if (readFlag == 0 && buffer != nullptr) {
        record.out = QByteArray(reinterpret_cast<const char*>(buffer), static_cast<qsizetype>(length));
    }
    record.status = transfer(deviceHandle, pipe, readFlag, buffer, length, bytesTransferred, timeoutMs);
    const std::uint32_t status = record.status;
    if (recordTransfers_) {
        transfers_.push_back(std::move(record));
    }
    return status;
}

std::uint32_t SimUsbDriver::transfer(std::uint32_t deviceHandle, std::uint32_t pipe, std::uint32_t readFlag,
                                     std::uint8_t* buffer, std::uint32_t length,
                                     std::uint32_t* bytesTransferred, std::uint32_t timeoutMs) {
    if (bytesTransferred == nullptr) {
        return UsbStatus::InvalidArgument;
    }
    *bytesTransferred = 0;
    std::uint32_t status = UsbStatus::Success;
    Device* device = deviceFor(deviceHandle, status);
    if (device == nullptr) {
        return status;
    }
    if (waiting_ != nullptr) {
        return UsbStatus::Busy; // one transfer at a time, as requests and replies must pair up
    }
    if (buffer == nullptr && length > 0) {
        return UsbStatus::InvalidArgument;
    }
    const bool listed =
        (pipe == RequestPipe && endpointCount_ >= 1) || (pipe == ReplyPipe && endpointCount_ >= 2);
    if (!listed) {
        return UsbStatus::NotFound;
    }
    const bool fromDevice = (pipe & 0x80) != 0;
    if (fromDevice != (readFlag != 0)) {
        return UsbStatus::InvalidArgument;
    }
    if (fromDevice) {
        return transferIn(*device, buffer, length, bytesTransferred, timeoutMs);
    }
    transferOut(*device, QByteArray(reinterpret_cast<const char*>(buffer), static_cast<qsizetype>(length)));
    *bytesTransferred = length;
    return UsbStatus::Success;
}

void SimUsbDriver::transferOut(Device& device, const QByteArray& request) {
    // One reply is kept: a new request discards an unread one, so a lost reply never answers the next access.
    QByteArray reply = answer(device.chip, request);
    applyReplyFaults(reply);
    device.reply = dropReplies_ ? std::nullopt : std::optional<QByteArray>(reply);
    if (requestsUntilUnplug_ > 0 && --requestsUntilUnplug_ == 0) {
        unplugBridge(deviceIdOf(device.handle));
    }
}

std::uint32_t SimUsbDriver::transferIn(Device& device, std::uint8_t* buffer, std::uint32_t length,
                                       std::uint32_t* bytesTransferred, std::uint32_t timeoutMs) {
    if (!device.reply) {
        return waitForReply(device.handle, timeoutMs);
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

// No reply comes by itself; the wait is there to behave like the board, and a removal or WDU_VB_Uninit ends
// it early.
std::uint32_t SimUsbDriver::waitForReply(std::uint32_t handle, std::uint32_t timeoutMs) {
    std::uint32_t wait = timeoutMs;
    if (timeoutCapMs_ >= 0) {
        const auto cap = static_cast<std::uint32_t>(timeoutCapMs_);
        if (cap == 0) {
            return UsbStatus::Timeout;
        }
        wait = wait == 0 ? cap : std::min(wait, cap);
    }
    TransferEnd end;
    waiting_ = &end;
    waitingHandle_ = handle;
    handOver_->hold(true);
    const std::weak_ptr<int> life = life_;
    const std::uint32_t status = waitForTransfer(end, wait);
    if (life.expired()) {
        return status;
    }
    waiting_ = nullptr;
    waitingHandle_ = 0;
    if (handOver_) {
        handOver_->hold(false);
    }
    return status;
}

void SimUsbDriver::endWaitingTransfer(std::uint32_t status) {
    if (waiting_ != nullptr) {
        waiting_->finish(status);
    }
}

QByteArray SimUsbDriver::answer(SimChip& chip, const QByteArray& request) const {
    const auto at = [&request](int i) { return static_cast<std::uint8_t>(request.at(i)); };
    if (request.size() == 3 && at(0) == OpRead) {
        if (at(1) != SlaveReadAddress) {
            return bytes({ReplyNoAck, IdleBus});
        }
        return bytes({ReplyOk, chip.read(at(2))});
    }
    if (request.size() == 4 && at(0) == OpWrite) {
        if (at(1) != SlaveWriteAddress) {
            return bytes({ReplyNoAck});
        }
        chip.write(at(2), at(3));
        return bytes({ReplyOk});
    }
    return bytes({ReplyGeneralError});
}

void SimUsbDriver::applyReplyFaults(QByteArray& reply) const {
    if (replyStatus_ && !reply.isEmpty()) {
        reply[0] = static_cast<char>(*replyStatus_);
    }
    if (replyData_ && reply.size() >= 2) {
        reply[1] = static_cast<char>(*replyData_);
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
    const auto found = statusTexts_.find(status);
    return found != statusTexts_.end() ? found->second : usbStatusText(status);
}

void SimUsbDriver::WDU_VB_Uninit(std::uint32_t driverHandle) {
    ++uninitCalls_;
    lastUninitHandle_ = driverHandle;
    if (open_ && driverHandle == driverHandle_) {
        closeSession();
    }
}

void SimUsbDriver::closeSession() {
    endWaitingTransfer(UsbStatus::InvalidHandle);
    handOver_.reset();
    open_ = false;
    driverHandle_ = 0;
    match_.clear();
    events_ = EventTable{};
    held_ = -1;
    for (auto& [id, device] : devices_) {
        device.handle = 0;
        device.offer = Offer::None;
        device.detachDue = false;
        device.reply.reset();
    }
}

// ---- devices and their callbacks

bool SimUsbDriver::matches(const Device& device) const {
    return std::any_of(match_.begin(), match_.end(), [&device](const MatchEntry& entry) {
        return (entry.VendorId == 0 || entry.VendorId == device.vendorId) &&
               (entry.ProductId == 0 || entry.ProductId == device.productId);
    });
}

int SimUsbDriver::plugBridge(std::uint16_t vid, std::uint16_t pid) {
    const int id = nextDeviceId_++;
    Device device;
    device.vendorId = vid;
    device.productId = pid;
    const bool offered = open_ && matches(device);
    devices_.emplace(id, std::move(device));
    if (offered) {
        offer(id);
    }
    return id;
}

void SimUsbDriver::unplugBridge(int id) {
    const auto found = devices_.find(id);
    if (found == devices_.end() || !found->second.plugged) {
        return;
    }
    Device& device = found->second;
    device.plugged = false;
    device.reply.reset();
    if (waitingHandle_ == device.handle) {
        endWaitingTransfer(UsbStatus::DeviceGone);
    }
    if (held_ == id) {
        held_ = -1;
    }
    if (open_ && (device.offer == Offer::Pending || device.offer == Offer::Accepted)) {
        queueRemoval(device.handle);
    }
}

void SimUsbDriver::offer(int id) {
    Device& device = devices_.at(id);
    device.handle = nextHandle_++;
    device.offer = Offer::Pending;
    device.detachDue = false;
    const std::uint32_t handle = device.handle;
    handOver_->post([this, handle] { deliverArrival(handle); });
}

void SimUsbDriver::queueRemoval(std::uint32_t handle) {
    handOver_->post([this, handle] { deliverRemoval(handle); });
}

void SimUsbDriver::deliverArrival(std::uint32_t handle) {
    const int id = deviceIdOf(handle);
    if (id < 0 || devices_.at(id).offer != Offer::Pending) {
        return;
    }
    const DeviceInfo info = describe(devices_.at(id));
    // Copies: the callback may close the session, which clears the table.
    const auto attach = events_.AttachCallback;
    void* const userData = events_.UserData;
    const std::weak_ptr<int> life = life_;
    const bool accepted = attach && attach(handle, info, userData);
    if (life.expired()) {
        return;
    }
    if (deviceIdOf(handle) != id) {
        return; // the session closed inside the callback
    }
    Device& device = devices_.at(id);
    device.offer = accepted ? Offer::Accepted : Offer::Released;
    if (!accepted) {
        device.reply.reset();
        return;
    }
    if (device.plugged) {
        held_ = id;
    }
    if (device.detachDue) {
        device.detachDue = false;
        queueRemoval(handle);
    }
}

void SimUsbDriver::deliverRemoval(std::uint32_t handle) {
    const int id = deviceIdOf(handle);
    if (id < 0) {
        return;
    }
    Device& device = devices_.at(id);
    if (device.offer == Offer::Pending) {
        device.detachDue = true; // its attach callback is still running in a nested event loop
        return;
    }
    if (device.offer != Offer::Accepted) {
        return;
    }
    const auto detach = events_.DetachCallback;
    void* const userData = events_.UserData;
    if (detach) {
        detach(handle, userData);
    }
}

int SimUsbDriver::deviceIdOf(std::uint32_t handle) const {
    if (handle == 0) {
        return -1;
    }
    for (const auto& [id, device] : devices_) {
        if (device.handle == handle && device.offer != Offer::None) {
            return id;
        }
    }
    return -1;
}

SimUsbDriver::Device* SimUsbDriver::deviceFor(std::uint32_t handle, std::uint32_t& status) {
    const int id = open_ ? deviceIdOf(handle) : -1;
    if (id < 0 || devices_.at(id).offer == Offer::Released) {
        status = UsbStatus::InvalidHandle;
        return nullptr;
    }
    Device& device = devices_.at(id);
    if (!device.plugged) {
        status = UsbStatus::DeviceGone;
        return nullptr;
    }
    status = UsbStatus::Success;
    return &device;
}

DeviceInfo SimUsbDriver::describe(const Device& device) const {
    DeviceInfo info;
    info.Descriptor.idVendor = device.vendorId;
    info.Descriptor.idProduct = device.productId;
    info.Descriptor.bcdDevice = 0x0100;

    InterfaceInfo interface;
    interface.NumAltSettings = 2;
    AlternateSettingInfo& setting = interface.ActiveAltSetting;
    setting.Descriptor.bInterfaceNumber = 0;
    setting.Descriptor.bAlternateSetting = static_cast<std::uint8_t>(device.alternateSetting);
    setting.Descriptor.bInterfaceClass = 0xFF; // vendor-specific
    const PipeInfo pipes[] = {{RequestPipe, MaxPacketSize, PipeType::Bulk, 0},
                              {ReplyPipe, MaxPacketSize, PipeType::Bulk, 0}};
    setting.Pipes.assign(pipes, pipes + endpointCount_);
    setting.Descriptor.bNumEndpoints = static_cast<std::uint8_t>(setting.Pipes.size());
    info.ActiveInterfaces.push_back(interface);
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

std::uint32_t SimUsbDriver::deviceHandle(int id) const {
    const auto found = devices_.find(id);
    return found == devices_.end() ? 0 : found->second.handle;
}

int SimUsbDriver::heldDevice() const {
    return held_;
}

void SimUsbDriver::setInitStatus(std::uint32_t status) {
    initStatus_ = status;
}

void SimUsbDriver::setDriverHandleValue(std::uint32_t value) {
    driverHandleValue_ = value;
}

void SimUsbDriver::setDeviceInfoStatus(std::uint32_t status) {
    deviceInfoStatus_ = status;
}

void SimUsbDriver::setEndpointCount(int count) {
    endpointCount_ = std::clamp(count, 0, 2);
}

void SimUsbDriver::setSetInterfaceStatus(std::uint32_t status) {
    setInterfaceStatus_ = status;
}

void SimUsbDriver::setReplyStatus(std::optional<std::uint8_t> status) {
    replyStatus_ = status;
}

void SimUsbDriver::setReplyData(std::optional<std::uint8_t> data) {
    replyData_ = data;
}

void SimUsbDriver::setReplyLength(std::optional<int> length) {
    replyLength_ = length;
}

void SimUsbDriver::setDropReplies(bool drop) {
    dropReplies_ = drop;
}

void SimUsbDriver::setTimeoutCap(int ms) {
    timeoutCapMs_ = ms;
}

void SimUsbDriver::setStatusText(std::uint32_t status, QByteArray text) {
    statusTexts_[status] = std::move(text);
}

} // namespace regbench::usb::sim
