#include "usb/i2cdev/I2cDevDriver.h"

#include "usb/i2cdev/AdapterChannel.h"
#include "usb/i2cdev/UdevAdapters.h"

#include <QSocketNotifier>

#include <utility>

namespace regbench::usb::i2cdev {

namespace {

constexpr std::uint32_t MaxPacketSize = 64;
constexpr std::uint8_t VendorSpecificClass = 0xFF;

// The record of a bridge with one interface whose active setting has the request and reply pipes.
DeviceInfo describe(const AdapterRecord& adapter) {
    DeviceInfo info;
    info.Descriptor.idVendor = adapter.vendorId;
    info.Descriptor.idProduct = adapter.productId;
    InterfaceInfo interface;
    interface.ActiveAltSetting.Descriptor.bNumEndpoints = 2;
    interface.ActiveAltSetting.Descriptor.bInterfaceClass = VendorSpecificClass;
    interface.ActiveAltSetting.Pipes = {{I2cDevDriver::RequestPipe, MaxPacketSize, PipeType::Bulk, 0},
                                        {I2cDevDriver::ReplyPipe, MaxPacketSize, PipeType::Bulk, 0}};
    info.ActiveInterfaces.push_back(std::move(interface));
    return info;
}

} // namespace

I2cDevDriver::I2cDevDriver() = default;

I2cDevDriver::~I2cDevDriver() {
    if (open_)
        shutdown();
}

std::uint32_t I2cDevDriver::WDU_VB_Init(std::uint32_t* driverHandle, const MatchEntry* matchTables,
                                        std::uint32_t numMatchTables, const EventTable& eventTable,
                                        std::uint32_t /*options*/, const void* /*windowHandle*/) {
    if (open_)
        return UsbStatus::Busy;
    if (driverHandle == nullptr || (matchTables == nullptr && numMatchTables > 0))
        return UsbStatus::InvalidArgument;
    *driverHandle = 0;
    auto udev = std::make_unique<UdevAdapters>();
    if (!udev->valid())
        return UsbStatus::Other;
    udev_ = std::move(udev);
    offers_.open(eventTable);
    handOver_ = std::make_unique<HandOver>();
    open_ = true;
    watchMonitor();
    // Offered from the event loop, like every later arrival: the caller is not ready inside this call.
    for (const AdapterRecord& adapter : udev_->list())
        handOver_->post([this, adapter] { handleAdapter(adapter); });
    driverHandle_ = ++sessions_;
    *driverHandle = driverHandle_;
    return UsbStatus::Success;
}

void I2cDevDriver::watchMonitor() {
    const int fd = udev_->monitorFd();
    if (fd < 0)
        return;
    notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                     [this] { readMonitor(); });
}

void I2cDevDriver::readMonitor() {
    while (const auto event = udev_->receive()) {
        if (event->action == UdevAdapters::Action::Remove)
            handOver_->post([this, syspath = event->adapter.syspath] { handleRemoval(syspath); });
        else
            handOver_->post([this, adapter = event->adapter] { handleAdapter(adapter); });
    }
}

// An arrival, or a change of one known (a mark set or taken away by a rule and `udevadm trigger`).
void I2cDevDriver::handleAdapter(const AdapterRecord& adapter) {
    if (!open_ || refused_.count(adapter.syspath) != 0)
        return;
    if (offers_.find([&adapter](const Adapter& held) { return held.record.syspath == adapter.syspath; })) {
        if (!adapter.eligible())
            handleRemoval(adapter.syspath); // no longer ours to touch
        return;
    }
    if (!adapter.eligible())
        return;
    if (offers_.offer(Adapter{adapter, nullptr}, describe(adapter)) == Offers::Offer::Refused)
        refused_.insert(adapter.syspath);
}

void I2cDevDriver::handleRemoval(const std::string& syspath) {
    refused_.erase(syspath);
    const auto isIt = [&syspath](const Adapter& held) { return held.record.syspath == syspath; };
    if (Offers::Offered* held = offers_.find(isIt))
        markGone(*held);
    offers_.remove(isIt);
}

void I2cDevDriver::markGone(Offers::Offered& held) {
    held.gone = true;
    // The kernel completes an adapter's removal only once every open node of it is closed.
    held.device.channel.reset();
}

I2cDevDriver::Offers::Offered* I2cDevDriver::lookup(std::uint32_t handle, std::uint32_t& status) {
    if (!open_) {
        status = UsbStatus::InvalidHandle;
        return nullptr;
    }
    return offers_.lookup(handle, status);
}

// Opened at the first access and tried again at every access while it fails, so that a permission granted
// meanwhile (the rule installed, `udevadm trigger`) works without plugging the adapter in again.
AdapterChannel* I2cDevDriver::channel(Offers::Offered& held, std::uint32_t& status) {
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
    if (lookup(deviceHandle, status) == nullptr)
        return status;
    return interfaceNumber == 0 && alternateSetting == 0 ? UsbStatus::Success : UsbStatus::NotFound;
}

std::uint32_t I2cDevDriver::WDU_GetDeviceInfo(std::uint32_t deviceHandle, DeviceInfo* info) {
    std::uint32_t status = UsbStatus::Success;
    Offers::Offered* held = lookup(deviceHandle, status);
    if (held == nullptr)
        return status;
    if (info == nullptr)
        return UsbStatus::InvalidArgument;
    if (channel(*held, status) == nullptr)
        return status;
    *info = describe(held->device.record);
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
    std::uint32_t status = UsbStatus::Success;
    Offers::Offered* held = lookup(deviceHandle, status);
    if (held == nullptr)
        return status;
    if (readFlag > 1 || (buffer == nullptr && length > 0))
        return UsbStatus::InvalidArgument;
    if (pipe != RequestPipe && pipe != ReplyPipe)
        return UsbStatus::NotFound;
    const bool reply = pipe == ReplyPipe;
    if (reply != (readFlag == 1))
        return UsbStatus::InvalidArgument;
    if (waiting_)
        return UsbStatus::Busy; // one transfer at a time, as requests and replies must pair up
    AdapterChannel* adapter = channel(*held, status);
    if (adapter == nullptr)
        return status;
    const std::uint32_t session = driverHandle_;
    status = waitUntilIdle(*adapter, timeoutMs);
    if (!open_ || driverHandle_ != session)
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
// loop; device events wait meanwhile, as they never arrive inside a call of the layer.
std::uint32_t I2cDevDriver::waitUntilIdle(AdapterChannel& adapter, std::uint32_t timeoutMs) {
    const auto idle = std::make_shared<TransferEnd>();
    adapter.whenIdle(idle);
    if (const std::optional<std::uint32_t> now = idle->status())
        return *now;
    waiting_ = idle;
    handOver_->hold(true);
    const std::uint32_t status = waitForTransfer(*idle, timeoutMs);
    if (open_) {
        handOver_->hold(false);
        waiting_.reset();
    }
    return status;
}

QByteArray I2cDevDriver::VB_Stat2Str(std::uint32_t status) {
    if (status == UsbStatus::NoPermission)
        return "No permission to open the I2C adapter's node: install the udev rule 60-regbench.rules (the "
               "package or cmake --install brings it), then plug the adapter in again or run udevadm trigger";
    return usbStatusText(status);
}

void I2cDevDriver::WDU_VB_Uninit(std::uint32_t driverHandle) {
    if (open_ && driverHandle == driverHandle_)
        shutdown();
}

void I2cDevDriver::shutdown() {
    if (waiting_)
        std::exchange(waiting_, nullptr)->finish(UsbStatus::InvalidHandle);
    open_ = false;
    notifier_.reset(); // its socket closes with udev_ below
    handOver_.reset(); // queued arrivals and removals die here, unrun
    offers_.close();
    refused_.clear();
    udev_.reset();
    driverHandle_ = 0;
}

} // namespace regbench::usb::i2cdev
