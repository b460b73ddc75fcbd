#include "usb/i2cdev/I2cDevDriver.h"

#include "usb/i2cdev/AdapterChannel.h"
#include "usb/i2cdev/UdevAdapters.h"

#include <QCoreApplication>
#include <QObject>
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

I2cDevDriver::I2cDevDriver() : alive_(std::make_shared<bool>(true)) {}

I2cDevDriver::~I2cDevDriver() {
    if (open_)
        shutdown();
    *alive_ = false;
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
    events_ = eventTable;
    dispatcher_ = std::make_unique<QObject>();
    open_ = true;
    watchMonitor();
    // Offered from the event loop, like every later arrival: the caller is not ready inside this call.
    for (const AdapterRecord& adapter : udev_->list())
        post([this, adapter] { handleAdapter(adapter); });
    driverHandle_ = ++sessions_;
    *driverHandle = driverHandle_;
    return UsbStatus::Success;
}

void I2cDevDriver::watchMonitor() {
    const int fd = udev_->monitorFd();
    if (fd < 0)
        return;
    notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, dispatcher_.get());
    QObject::connect(notifier_, &QSocketNotifier::activated, dispatcher_.get(), [this] { readMonitor(); });
}

void I2cDevDriver::readMonitor() {
    while (const auto event = udev_->receive()) {
        if (event->action == UdevAdapters::Action::Remove)
            post([this, syspath = event->adapter.syspath] { handleRemoval(syspath); });
        else
            post([this, adapter = event->adapter] { handleAdapter(adapter); });
    }
}

void I2cDevDriver::post(std::function<void()> work) {
    // Dropped unrun when dispatcher_ goes first.
    QMetaObject::invokeMethod(
        dispatcher_.get(),
        [this, alive = alive_, work = std::move(work)] {
            ++dispatchDepth_;
            work();
            if (*alive)
                --dispatchDepth_;
        },
        Qt::QueuedConnection);
}

// An arrival, or a change of one known (a mark set or taken away by a rule and `udevadm trigger`).
void I2cDevDriver::handleAdapter(const AdapterRecord& adapter) {
    if (!open_ || refused_.count(adapter.syspath) != 0)
        return;
    for (const auto& [handle, held] : held_) {
        if (held.adapter.syspath != adapter.syspath)
            continue;
        if (!adapter.eligible())
            handleRemoval(adapter.syspath); // no longer ours to touch
        return;
    }
    if (!adapter.eligible())
        return;
    const std::uint32_t handle = nextDeviceHandle_++;
    if (nextDeviceHandle_ == 0)
        nextDeviceHandle_ = 1;
    Held held;
    held.adapter = adapter;
    held_.emplace(handle, std::move(held));
    offer(handle);
}

void I2cDevDriver::offer(std::uint32_t handle) {
    const DeviceInfo info = describe(held_.at(handle).adapter);
    const auto attach = events_.AttachCallback; // the callback may open the layer anew
    const auto alive = alive_;
    // The handle is registered before the callback, which may already use it.
    const bool accepted = attach && attach(handle, info, events_.UserData);
    if (!*alive)
        return;
    const auto it = held_.find(handle);
    if (it == held_.end())
        return; // the layer was closed inside the callback
    it->second.offering = false;
    it->second.accepted = accepted;
    if (!accepted) {
        refused_.insert(it->second.adapter.syspath);
        held_.erase(it);
    } else if (it->second.removed)
        finishRemoval(handle);
}

void I2cDevDriver::handleRemoval(const std::string& syspath) {
    refused_.erase(syspath);
    for (auto& [handle, held] : held_) {
        if (held.adapter.syspath != syspath)
            continue;
        held.removed = true;
        markGone(held);
        // An adapter removed while its attach callback runs is finished when the callback returns.
        if (!held.offering)
            finishRemoval(handle);
        return;
    }
}

void I2cDevDriver::finishRemoval(std::uint32_t handle) {
    const auto it = held_.find(handle);
    if (it == held_.end())
        return;
    markGone(it->second);
    if (it->second.accepted && events_.DetachCallback) {
        const auto detach = events_.DetachCallback;
        const auto alive = alive_;
        detach(handle, events_.UserData);
        if (!*alive)
            return;
    }
    if (const auto again = held_.find(handle); again != held_.end()) {
        held_.erase(again);
        goneHandles_.insert(handle);
    }
}

void I2cDevDriver::markGone(Held& held) {
    held.gone = true;
    // The kernel completes an adapter's removal only once every open node of it is closed.
    held.channel.reset();
}

I2cDevDriver::Held* I2cDevDriver::lookup(std::uint32_t handle, std::uint32_t& status) {
    const auto it = open_ ? held_.find(handle) : held_.end();
    if (it == held_.end()) {
        status = open_ && goneHandles_.count(handle) != 0 ? UsbStatus::DeviceGone : UsbStatus::InvalidHandle;
        return nullptr;
    }
    status = it->second.gone ? UsbStatus::DeviceGone : UsbStatus::Success;
    return status == UsbStatus::Success ? &it->second : nullptr;
}

// Opened at the first access and tried again at every access while it fails, so that a permission granted
// meanwhile (the rule installed, `udevadm trigger`) works without plugging the adapter in again.
AdapterChannel* I2cDevDriver::channel(Held& held, std::uint32_t& status) {
    status = UsbStatus::Success;
    if (!held.channel)
        held.channel = AdapterChannel::open(held.adapter.devnode, status);
    if (status == UsbStatus::DeviceGone)
        markGone(held);
    return held.channel.get();
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
    Held* held = lookup(deviceHandle, status);
    if (held == nullptr)
        return status;
    if (info == nullptr)
        return UsbStatus::InvalidArgument;
    if (channel(*held, status) == nullptr)
        return status;
    *info = describe(held->adapter);
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
    Held* held = lookup(deviceHandle, status);
    if (held == nullptr)
        return status;
    if (readFlag > 1 || (buffer == nullptr && length > 0))
        return UsbStatus::InvalidArgument;
    if (pipe != RequestPipe && pipe != ReplyPipe)
        return UsbStatus::NotFound;
    const bool reply = pipe == ReplyPipe;
    if (reply != (readFlag == 1))
        return UsbStatus::InvalidArgument;
    AdapterChannel* adapter = channel(*held, status);
    if (adapter == nullptr)
        return status;
    std::uint32_t done = 0;
    if (reply) {
        status = adapter->fetch(buffer, length, done, timeoutMs);
    } else {
        status = adapter->submit(std::vector<std::uint8_t>(buffer, buffer + length), timeoutMs);
        done = status == UsbStatus::Success ? length : 0;
    }
    if (status == UsbStatus::DeviceGone)
        markGone(*held);
    if (bytesTransferred != nullptr)
        *bytesTransferred = done;
    return status;
}

QByteArray I2cDevDriver::VB_Stat2Str(std::uint32_t status) {
    if (status == UsbStatus::NoPermission)
        return "No permission to open the I2C adapter's node: install the udev rule 60-regbench.rules "
               "(cmake --install), then plug the adapter in again or run udevadm trigger";
    return usbStatusText(status);
}

void I2cDevDriver::WDU_VB_Uninit(std::uint32_t driverHandle) {
    if (open_ && driverHandle == driverHandle_)
        shutdown();
}

void I2cDevDriver::shutdown() {
    open_ = false;
    if (notifier_ != nullptr)
        notifier_->setEnabled(false); // its socket closes with udev_ below
    notifier_ = nullptr;
    if (dispatcher_) {
        // Queued arrivals and removals die here, unrun.
        QCoreApplication::removePostedEvents(dispatcher_.get());
        if (dispatchDepth_ > 0)
            dispatcher_.release()->deleteLater(); // its own queued call is running right now
        else
            dispatcher_.reset();
    }
    held_.clear();
    goneHandles_.clear();
    refused_.clear();
    udev_.reset();
    driverHandle_ = 0;
}

} // namespace regbench::usb::i2cdev
