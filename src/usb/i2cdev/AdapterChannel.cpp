#include "usb/i2cdev/AdapterChannel.h"

#include "usb/BridgeBus.h"
#include "usb/BridgeProtocol.h"
#include "usb/BridgeService.h"
#include "usb/TransferWait.h"
#include "usb/UsbDriver.h"
#include "usb/i2cdev/FileDescriptor.h"
#include "usb/i2cdev/I2cBus.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <utility>

namespace regbench::usb::i2cdev {

namespace {

std::uint32_t openStatus(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
        return UsbStatus::NoPermission;
    case ENOENT: // the node went with its adapter
    case ENODEV:
    case ENXIO:
        return UsbStatus::DeviceGone;
    case EBUSY:
        return UsbStatus::Busy;
    default:
        return UsbStatus::IoError;
    }
}

// The adapter as the bus the bridge's side serves requests on.
class AdapterBus : public BridgeBus {
public:
    explicit AdapterBus(FileDescriptor node) : bus_(std::move(node)) {}
    int readRegister(std::uint8_t chip, std::uint8_t reg, std::uint8_t& value) override {
        return bus_.readRegister(chip, reg, value);
    }
    int writeRegister(std::uint8_t chip, std::uint8_t reg, std::uint8_t value) override {
        return bus_.writeRegister(chip, reg, value);
    }

private:
    I2cBus bus_;
};

} // namespace

struct AdapterChannel::Shared {
    explicit Shared(FileDescriptor node) : bus(std::move(node)) {}

    bool outstanding() const { return request.has_value() || busy; }
    // Under mutex, whenever the bus may have become idle.
    void tellIdle() {
        if (!gone && outstanding())
            return;
        for (const auto& idle : idleWaiters)
            idle->finish(gone ? UsbStatus::DeviceGone : UsbStatus::Success);
        idleWaiters.clear();
    }

    AdapterBus bus; // the I/O thread's alone
    std::mutex mutex;
    std::condition_variable changed;
    // Guarded by mutex:
    std::optional<std::vector<std::uint8_t>> request;
    std::optional<std::vector<std::uint8_t>> reply;
    bool busy = false; // a request is on the bus
    bool gone = false; // the adapter answered that it has left
    bool stop = false;
    std::vector<std::shared_ptr<TransferEnd>> idleWaiters;
};

std::unique_ptr<AdapterChannel> AdapterChannel::open(const std::string& devnode, std::uint32_t& status) {
    if (devnode.empty()) {
        status = UsbStatus::NotFound;
        return nullptr;
    }
    FileDescriptor node(::open(devnode.c_str(), O_RDWR | O_CLOEXEC));
    if (!node.valid()) {
        status = openStatus(errno);
        return nullptr;
    }
    status = UsbStatus::Success;
    return std::unique_ptr<AdapterChannel>(new AdapterChannel(std::move(node)));
}

AdapterChannel::AdapterChannel(FileDescriptor node) : shared_(std::make_shared<Shared>(std::move(node))) {
    thread_ = std::thread([shared = shared_] { run(shared); });
}

AdapterChannel::~AdapterChannel() {
    bool busy = false;
    {
        const std::lock_guard lock(shared_->mutex);
        shared_->stop = true;
        busy = shared_->busy;
        for (const auto& idle : shared_->idleWaiters)
            idle->finish(UsbStatus::DeviceGone);
        shared_->idleWaiters.clear();
    }
    shared_->changed.notify_all();
    // Joining would hold the caller for as long as the kernel keeps the transaction.
    if (busy)
        thread_.detach();
    else
        thread_.join();
}

void AdapterChannel::run(const std::shared_ptr<Shared>& shared) {
    Shared& s = *shared;
    std::unique_lock lock(s.mutex);
    for (;;) {
        s.changed.wait(lock, [&s] { return s.stop || s.request.has_value(); });
        if (s.stop)
            return;
        const std::vector<std::uint8_t> request = *std::exchange(s.request, std::nullopt);
        s.busy = true;
        lock.unlock();
        BridgeService::Outcome outcome = BridgeService::serve(s.bus, request);
        lock.lock();
        s.busy = false;
        if (outcome.busGone)
            s.gone = true;
        else
            s.reply = std::move(outcome.reply);
        s.tellIdle();
    }
}

void AdapterChannel::whenIdle(const std::shared_ptr<TransferEnd>& idle) {
    Shared& s = *shared_;
    const std::lock_guard lock(s.mutex);
    s.idleWaiters.push_back(idle);
    s.tellIdle();
}

std::uint32_t AdapterChannel::submit(std::vector<std::uint8_t> request) {
    Shared& s = *shared_;
    std::unique_lock lock(s.mutex);
    if (s.gone)
        return UsbStatus::DeviceGone;
    if (s.outstanding())
        return UsbStatus::Busy;
    s.reply.reset();
    s.request = std::move(request);
    lock.unlock();
    s.changed.notify_all();
    return UsbStatus::Success;
}

std::uint32_t AdapterChannel::fetch(std::uint8_t* buffer, std::uint32_t length, std::uint32_t& transferred) {
    transferred = 0;
    Shared& s = *shared_;
    std::unique_lock lock(s.mutex);
    if (s.gone)
        return UsbStatus::DeviceGone;
    if (!s.reply)
        return UsbStatus::Timeout;
    const std::vector<std::uint8_t> reply = *std::exchange(s.reply, std::nullopt);
    lock.unlock();
    transferred = std::min(length, static_cast<std::uint32_t>(reply.size()));
    if (transferred > 0)
        std::memcpy(buffer, reply.data(), transferred);
    return reply.size() > length ? UsbStatus::Overflow : UsbStatus::Success;
}

} // namespace regbench::usb::i2cdev
