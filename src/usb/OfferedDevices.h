#pragma once

#include "usb/UsbDriver.h"

#include <cstdint>
#include <map>
#include <set>
#include <utility>

namespace regbench::usb {

// The devices a backend offers through the attach callback, each under a handle of the layer's own (1, 2,
// 3, ... never reused), and the rules every backend keeps for them: the handle works inside the attach
// callback; a refused device is forgotten; a device removed while its attach callback runs is detached
// once the callback has returned; a handle whose device went answers DeviceGone, any other unknown handle
// InvalidHandle, and so does every handle after close(), after which no callback comes. Used on the thread
// of WDU_VB_Init only; a callback may close the layer, and nothing here touches what it closed afterwards.
template <typename Device> class OfferedDevices {
public:
    struct Offered {
        std::uint32_t handle = 0;
        Device device;
        bool offering = true; // inside the attach callback
        bool accepted = false;
        bool gone = false;    // answer DeviceGone without touching the device
        bool removed = false; // its removal has been seen
    };
    enum class Offer { Accepted, Refused, Closed };

    OfferedDevices() = default;
    OfferedDevices(const OfferedDevices&) = delete;
    OfferedDevices& operator=(const OfferedDevices&) = delete;

    void open(const EventTable& events) { events_ = events; }
    void close() {
        devices_.clear();
        goneHandles_.clear();
        events_ = EventTable{};
    }

    // Registers the device under a new handle and offers it. Closed: the layer was closed inside the
    // callback.
    Offer offer(Device device, const DeviceInfo& info) {
        const std::uint32_t handle = nextHandle_++;
        if (nextHandle_ == 0)
            nextHandle_ = 1;
        devices_.emplace(handle, Offered{handle, std::move(device)});
        const auto attach = events_.AttachCallback; // the callback may close the layer, which clears it
        const bool accepted = attach && attach(handle, info, events_.UserData);
        const auto it = devices_.find(handle);
        if (it == devices_.end())
            return Offer::Closed;
        it->second.offering = false;
        it->second.accepted = accepted;
        if (!accepted) {
            devices_.erase(it);
            return Offer::Refused;
        }
        if (it->second.removed)
            finishRemoval(handle);
        return Offer::Accepted;
    }

    template <typename Matches> Offered* find(Matches matches) {
        for (auto& [handle, offered] : devices_) {
            if (matches(offered.device))
                return &offered;
        }
        return nullptr;
    }

    // The device is gone: an accepted one is detached, at once or when its attach callback returns.
    template <typename Matches> void remove(Matches matches) {
        for (auto& [handle, offered] : devices_) {
            if (!matches(offered.device))
                continue;
            offered.gone = true;
            offered.removed = true;
            if (!offered.offering)
                finishRemoval(handle);
            return;
        }
    }

    // The device under a handle, or null with the status that says why.
    Offered* lookup(std::uint32_t handle, std::uint32_t& status) {
        const auto it = devices_.find(handle);
        if (it == devices_.end()) {
            status = goneHandles_.count(handle) != 0 ? UsbStatus::DeviceGone : UsbStatus::InvalidHandle;
            return nullptr;
        }
        status = it->second.gone ? UsbStatus::DeviceGone : UsbStatus::Success;
        return it->second.gone ? nullptr : &it->second;
    }

private:
    void finishRemoval(std::uint32_t handle) {
        const auto it = devices_.find(handle);
        if (it == devices_.end())
            return;
        it->second.gone = true;
        if (it->second.accepted && events_.DetachCallback) {
            const auto detach = events_.DetachCallback; // the callback may close the layer, which clears it
            detach(handle, events_.UserData);
        }
        if (const auto again = devices_.find(handle); again != devices_.end()) {
            devices_.erase(again);
            goneHandles_.insert(handle);
        }
    }

    EventTable events_;
    std::map<std::uint32_t, Offered> devices_;
    std::set<std::uint32_t> goneHandles_;
    std::uint32_t nextHandle_ = 1;
};

} // namespace regbench::usb
