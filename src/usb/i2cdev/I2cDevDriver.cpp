#include "usb/i2cdev/I2cDevDriver.h"

#include "usb/BridgeProtocol.h"
#include "usb/BridgeService.h"
#include "usb/TransferWait.h"
#include "usb/i2cdev/AdapterChannel.h"
#include "usb/i2cdev/UdevAdapters.h"

#include "common/FdWatch.h"

#include <utility>

namespace regbench::usb::i2cdev {

namespace {

QString notEligibleLine(const AdapterRecord& adapter) {
    const QString driver =
        adapter.driver.empty() ? QStringLiteral("none") : QString::fromStdString(adapter.driver);
    return QStringLiteral("Adapter ") + QString::fromStdString(adapter.devnode) +
           QStringLiteral(" not used: its driver (") + driver +
           QStringLiteral(") is no USB-to-I2C adapter's. A udev rule that sets ENV{REGBENCH_I2C}=\"1\" on it "
                          "marks it for use.");
}

} // namespace

I2cDevDriver::I2cDevDriver() = default;

I2cDevDriver::~I2cDevDriver() {
    if (session_.isOpen())
        shutdown();
}

std::uint32_t I2cDevDriver::WDU_VB_Init(std::uint32_t* driverHandle, const MatchEntry* matchTables,
                                        std::uint32_t numMatchTables, const EventTable& eventTable,
                                        std::uint32_t /*options*/, const void* /*windowHandle*/) {
    if (const std::uint32_t status = session_.open(driverHandle, matchTables, numMatchTables, eventTable);
        status != UsbStatus::Success)
        return status;
    auto udev = std::make_unique<UdevAdapters>();
    if (!udev->valid()) {
        session_.close();
        return UsbStatus::Other;
    }
    udev_ = std::move(udev);
    watchMonitor();
    // Offered from the event loop, like every later arrival: the caller is not ready inside this call.
    for (const AdapterRecord& adapter : udev_->list())
        session_.post([this, adapter] { handleAdapter(adapter); });
    return session_.commit(driverHandle);
}

void I2cDevDriver::watchMonitor() {
    const int fd = udev_->monitorFd();
    if (fd >= 0)
        monitorWatch_ = std::make_unique<common::FdWatch>(fd, [this] { readMonitor(); });
}

void I2cDevDriver::readMonitor() {
    while (const auto event = udev_->receive()) {
        if (event->action == UdevAdapters::Action::Remove)
            session_.post([this, syspath = event->adapter.syspath] { handleRemoval(syspath); });
        else
            session_.post([this, adapter = event->adapter] { handleAdapter(adapter); });
    }
}

void I2cDevDriver::chooseBus(int bus, std::function<void(const QString& line)> tell) {
    chosenNode_ = "/dev/i2c-" + std::to_string(bus);
    tell_ = std::move(tell);
}

// An arrival, or a change of one known (a mark set or taken away by a rule and `udevadm trigger`).
void I2cDevDriver::handleAdapter(const AdapterRecord& adapter) {
    if (refused_.count(adapter.syspath) != 0)
        return;
    if (!chosenNode_.empty() && adapter.devnode != chosenNode_)
        return;
    if (session_.offers().find(
            [&adapter](const Adapter& held) { return held.record.syspath == adapter.syspath; })) {
        if (!adapter.eligible())
            handleRemoval(adapter.syspath); // no longer ours to touch
        return;
    }
    if (!adapter.eligible()) {
        if (!chosenNode_.empty() && tell_)
            tell_(notEligibleLine(adapter));
        return;
    }
    const DeviceInfo info = BridgeService::describe(adapter.vendorId, adapter.productId);
    if (session_.offers().offer(Adapter{adapter, nullptr}, info) == Session::Offers::Offer::Refused)
        refused_.insert(adapter.syspath);
}

void I2cDevDriver::handleRemoval(const std::string& syspath) {
    refused_.erase(syspath);
    const auto isIt = [&syspath](const Adapter& held) { return held.record.syspath == syspath; };
    if (Offered* held = session_.offers().find(isIt))
        markGone(*held);
    session_.offers().remove(isIt);
}

void I2cDevDriver::markGone(Offered& held) {
    held.gone = true;
    // The kernel completes an adapter's removal only once every open node of it is closed.
    held.device.channel.reset();
}

// Opened at the first access and tried again at every access while it fails, so that a permission granted
// meanwhile (the rule installed, `udevadm trigger`) works without plugging the adapter in again.
AdapterChannel* I2cDevDriver::channel(Offered& held, std::uint32_t& status) {
    status = UsbStatus::Success;
    if (!held.device.channel)
        held.device.channel = AdapterChannel::open(held.device.record.devnode, status);
    if (status == UsbStatus::DeviceGone)
        markGone(held);
    return held.device.channel.get();
}

std::uint32_t I2cDevDriver::WDU_SetInterface(std::uint32_t deviceHandle, std::uint32_t interfaceNumber,
                                             std::uint32_t alternateSetting) {
    std::uint32_t status = UsbStatus::Success;
    if (session_.lookup(deviceHandle, status) == nullptr)
        return status;
    return interfaceNumber == 0 && alternateSetting == 0 ? UsbStatus::Success : UsbStatus::NotFound;
}

std::uint32_t I2cDevDriver::WDU_GetDeviceInfo(std::uint32_t deviceHandle, DeviceInfo* info) {
    if (info == nullptr)
        return UsbStatus::InvalidArgument;
    std::uint32_t status = UsbStatus::Success;
    Offered* held = session_.lookup(deviceHandle, status);
    if (held == nullptr)
        return status;
    if (channel(*held, status) == nullptr)
        return status;
    *info = BridgeService::describe(held->device.record.vendorId, held->device.record.productId);
    return UsbStatus::Success;
}

std::uint32_t I2cDevDriver::WDU_Transfer(std::uint32_t deviceHandle, std::uint32_t pipe,
                                         std::uint32_t readFlag, std::uint32_t /*options*/,
                                         std::uint8_t* buffer, std::uint32_t length,
                                         std::uint32_t* bytesTransferred,
                                         const std::array<std::uint8_t, SetupPacketSize>& /*setupPacket*/,
                                         std::uint32_t timeoutMs) {
    if (bytesTransferred != nullptr)
        *bytesTransferred = 0;
    if (readFlag > 1 || (buffer == nullptr && length > 0))
        return UsbStatus::InvalidArgument;
    std::uint32_t status = UsbStatus::Success;
    Offered* held = session_.lookup(deviceHandle, status);
    if (held == nullptr)
        return status;
    if (session_.transferWaiting())
        return UsbStatus::Busy;
    if (pipe != BridgeProtocol::RequestPipe && pipe != BridgeProtocol::ReplyPipe)
        return UsbStatus::NotFound;
    const bool reply = pipe == BridgeProtocol::ReplyPipe;
    if (reply != (readFlag == 1))
        return UsbStatus::InvalidArgument;
    AdapterChannel* adapter = channel(*held, status);
    if (adapter == nullptr)
        return status;
    const std::uint32_t session = session_.handle();
    status = waitUntilIdle(*adapter, timeoutMs);
    if (session_.handle() != session)
        return status; // closed meanwhile
    std::uint32_t done = 0;
    if (status == UsbStatus::Success && reply) {
        status = adapter->fetch(buffer, length, done);
    } else if (status == UsbStatus::Success) {
        status = adapter->submit(std::vector<std::uint8_t>(buffer, buffer + length));
        done = status == UsbStatus::Success ? length : 0;
    }
    if (status == UsbStatus::DeviceGone)
        markGone(*held);
    if (bytesTransferred != nullptr)
        *bytesTransferred = done;
    return status;
}

// A request still on the bus (a reply not yet read, or one whose read timed out) is waited for in the event
// loop. The adapter's thread may finish `idle` after a time-out, so it is shared with it.
std::uint32_t I2cDevDriver::waitUntilIdle(AdapterChannel& adapter, std::uint32_t timeoutMs) {
    const auto idle = std::make_shared<TransferEnd>();
    adapter.whenIdle(idle);
    if (const std::optional<std::uint32_t> now = idle->status())
        return *now;
    return session_.waitFor(*idle, timeoutMs);
}

QByteArray I2cDevDriver::VB_Stat2Str(std::uint32_t status) {
    if (status == UsbStatus::NoPermission)
        return noPermissionText("the I2C adapter's node", "plug the adapter in again or run udevadm trigger");
    return usbStatusText(status);
}

void I2cDevDriver::WDU_VB_Uninit(std::uint32_t driverHandle) {
    if (session_.closedBy(driverHandle))
        shutdown();
}

void I2cDevDriver::shutdown() {
    monitorWatch_.reset(); // its socket closes with udev_ below
    session_.close();
    refused_.clear();
    udev_.reset();
}

} // namespace regbench::usb::i2cdev
