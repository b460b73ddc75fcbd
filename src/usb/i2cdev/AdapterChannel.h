#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace regbench::usb {
class TransferEnd;
}

namespace regbench::usb::i2cdev {

class FileDescriptor;

// One opened adapter with an I/O thread of its own, so that no caller waits on the bus past its time-out.
// An ioctl on an i2c-dev node is bounded only by the adapter driver's own time-out, if it keeps one; the
// I2C_TIMEOUT ioctl would change that time-out for every user of the adapter, and many USB adapter drivers
// ignore it. So a request is handed over to the thread, which carries it out while the caller waits, with its
// own time-out, for the bus to be idle again. Use from one thread; nothing here blocks it.
class AdapterChannel {
public:
    // Opening the node puts nothing on the bus. Null, with the failure's status, when it cannot be opened.
    static std::unique_ptr<AdapterChannel> open(const std::string& devnode, std::uint32_t& status);
    // A transaction still on the bus is left to finish on the thread, which closes the node after it.
    ~AdapterChannel();
    AdapterChannel(const AdapterChannel&) = delete;
    AdapterChannel& operator=(const AdapterChannel&) = delete;

    // Finishes `idle` once no request is on the bus (at once when none is), or with DeviceGone when the
    // adapter has left. Submit and fetch after it.
    void whenIdle(const std::shared_ptr<TransferEnd>& idle);
    // Busy while an earlier request is still on the bus. An unread reply is dropped, so that it can never
    // pass for the answer to this request.
    std::uint32_t submit(std::vector<std::uint8_t> request);
    // The reply to the last request; Timeout while it is on the bus or when no request went out.
    std::uint32_t fetch(std::uint8_t* buffer, std::uint32_t length, std::uint32_t& transferred);

private:
    struct Shared;
    explicit AdapterChannel(FileDescriptor node);
    static void run(const std::shared_ptr<Shared>& shared);

    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};

} // namespace regbench::usb::i2cdev
