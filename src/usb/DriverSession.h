#pragma once

#include "usb/HandOver.h"
#include "usb/OfferedDevices.h"
#include "usb/TransferWait.h"
#include "usb/UsbDriver.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace regbench::usb {

// What every backend keeps of an open session of the layer: its driver handle, its match table, the devices
// it offers and the hand-over that brings arrivals and removals to the thread of WDU_VB_Init; and the checks
// of WDU_VB_Init and WDU_VB_Uninit that the layer's contract (UsbDriver.h) sets for every backend.
template <typename Device> class DriverSession {
public:
    using Offers = OfferedDevices<Device>;
    using Offered = typename Offers::Offered;

    bool isOpen() const { return handOver_ != nullptr; }
    // The open session's driver handle, 0 when closed: a call that waited can tell whether it is still open.
    std::uint32_t handle() const { return handle_; }

    // The arguments, then an open session, then the hand-over; on success the session is open and the
    // backend starts its own watch, calling close() if that fails, and commit() once it has not.
    std::uint32_t open(const std::uint32_t* driverHandle, const MatchEntry* matchTables,
                       std::uint32_t numMatchTables, const EventTable& events) {
        if (driverHandle == nullptr || matchTables == nullptr || numMatchTables == 0)
            return UsbStatus::InvalidArgument;
        if (isOpen())
            return UsbStatus::Busy;
        handOver_ = HandOver::create();
        if (!handOver_)
            return UsbStatus::Other;
        match_.assign(matchTables, matchTables + numMatchTables);
        offers_.open(events);
        return UsbStatus::Success;
    }
    // Hands out the session's driver handle: 1, 2, 3, ... one for each session, unless value is given.
    std::uint32_t commit(std::uint32_t* driverHandle, std::uint32_t value = 0) {
        ++sessions_;
        handle_ = value != 0 ? value : sessions_;
        *driverHandle = handle_;
        return UsbStatus::Success;
    }
    // Whether WDU_VB_Uninit with this handle closes the session; any other handle, or a second call, does
    // nothing.
    bool closedBy(std::uint32_t driverHandle) const { return isOpen() && driverHandle == handle_; }
    // Work queued and not yet run is released here, before the backend tears down what it might hold; a
    // transfer that waits ends with InvalidHandle.
    void close() {
        endTransfer(UsbStatus::InvalidHandle);
        waiting_ = nullptr;
        handOver_.reset();
        offers_.close();
        match_.clear();
        handle_ = 0;
    }

    void post(std::function<void()> work) { handOver_->post(std::move(work)); }
    // One transfer at a time, as requests and replies must pair up: the layer answers Busy meanwhile.
    bool transferWaiting() const { return waiting_ != nullptr; }
    // Handles events until `end` is finished or the time-out passes (see waitForTransfer). Arrivals and
    // removals wait meanwhile, as they never arrive inside a call of the layer.
    std::uint32_t waitFor(TransferEnd& end, std::uint32_t timeoutMs) {
        waiting_ = &end;
        handOver_->hold(true);
        const std::uint32_t status = waitForTransfer(end, timeoutMs);
        if (waiting_ == &end) { // not closed meanwhile
            waiting_ = nullptr;
            handOver_->hold(false);
        }
        return status;
    }
    // Ends the transfer that waits, if any: its device went, or the layer is closing.
    void endTransfer(std::uint32_t status) {
        if (waiting_ != nullptr)
            waiting_->finish(status);
    }
    // Null with the status when the handle is unknown, released, gone or the session closed.
    Offered* lookup(std::uint32_t deviceHandle, std::uint32_t& status) {
        return offers_.lookup(deviceHandle, status);
    }
    Offers& offers() { return offers_; }
    const std::vector<MatchEntry>& match() const { return match_; }

private:
    std::unique_ptr<HandOver> handOver_;
    std::vector<MatchEntry> match_;
    Offers offers_;
    std::uint32_t handle_ = 0;
    std::uint32_t sessions_ = 0;
    TransferEnd* waiting_ = nullptr;
};

} // namespace regbench::usb
