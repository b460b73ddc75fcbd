#pragma once

#include <QByteArray>

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace regbench::usb {

// Statuses of the USB layer: 0 for success, one distinct value for each kind of failure. The top bit is set
// on purpose, so that every log line shows them as unsigned 32-bit numbers.
namespace UsbStatus {
inline constexpr std::uint32_t Success = 0;
inline constexpr std::uint32_t InvalidHandle = 0xE0000001; // unknown or released handle
inline constexpr std::uint32_t DeviceGone = 0xE0000002;
inline constexpr std::uint32_t Timeout = 0xE0000003;
inline constexpr std::uint32_t Stall = 0xE0000004;
inline constexpr std::uint32_t NoPermission = 0xE0000005;
inline constexpr std::uint32_t Busy = 0xE0000006;
inline constexpr std::uint32_t NotFound = 0xE0000007;
inline constexpr std::uint32_t IoError = 0xE0000008;
inline constexpr std::uint32_t Overflow = 0xE0000009;
inline constexpr std::uint32_t NotSupported = 0xE000000A;
inline constexpr std::uint32_t InvalidArgument = 0xE000000B;
inline constexpr std::uint32_t Other = 0xE00000FF;
} // namespace UsbStatus

// The plain-language text of a status of this layer; backends may refine it (see VB_Stat2Str).
QByteArray usbStatusText(std::uint32_t status);
// A backend's text for NoPermission: what could not be opened, the udev rule that grants it, and then what
// makes the rule apply.
QByteArray noPermissionText(const QByteArray& what, const QByteArray& then);

// One entry of the match table handed to WDU_VB_Init, in the library's field order.
struct MatchEntry {
    std::uint16_t VendorId = 0;
    std::uint16_t ProductId = 0;
    std::uint8_t DeviceClass = 0;
    std::uint8_t DeviceSubClass = 0;
    std::uint8_t InterfaceClass = 0;
    std::uint8_t InterfaceSubClass = 0;
    std::uint8_t InterfaceProtocol = 0;
};

// The standard USB descriptors, as the device reports them.
struct DeviceDescriptor {
    std::uint8_t bLength = 18;
    std::uint8_t bDescriptorType = 1;
    std::uint16_t bcdUSB = 0x0200;
    std::uint8_t bDeviceClass = 0;
    std::uint8_t bDeviceSubClass = 0;
    std::uint8_t bDeviceProtocol = 0;
    std::uint8_t bMaxPacketSize0 = 64;
    std::uint16_t idVendor = 0;
    std::uint16_t idProduct = 0;
    std::uint16_t bcdDevice = 0;
    std::uint8_t iManufacturer = 0;
    std::uint8_t iProduct = 0;
    std::uint8_t iSerialNumber = 0;
    std::uint8_t bNumConfigurations = 1;
};

struct InterfaceDescriptor {
    std::uint8_t bLength = 9;
    std::uint8_t bDescriptorType = 4;
    std::uint8_t bInterfaceNumber = 0;
    std::uint8_t bAlternateSetting = 0;
    std::uint8_t bNumEndpoints = 0;
    std::uint8_t bInterfaceClass = 0;
    std::uint8_t bInterfaceSubClass = 0;
    std::uint8_t bInterfaceProtocol = 0;
    std::uint8_t iInterface = 0;
};

enum class PipeType : std::uint8_t { Control = 0, Isochronous = 1, Bulk = 2, Interrupt = 3 };

struct PipeInfo {
    std::uint32_t Number = 0; // endpoint address, bit 7 set for a pipe from the device
    std::uint32_t MaximumPacketSize = 0;
    PipeType Type = PipeType::Bulk;
    std::uint32_t Interval = 0;
};

struct AlternateSettingInfo {
    InterfaceDescriptor Descriptor;
    std::vector<PipeInfo> Pipes;
};

struct InterfaceInfo {
    AlternateSettingInfo ActiveAltSetting;
    std::uint32_t NumAltSettings = 1;
};

// The device-information record: a copy that the caller owns, so nothing has to be handed back.
struct DeviceInfo {
    DeviceDescriptor Descriptor;
    std::vector<InterfaceInfo> ActiveInterfaces;
};

// Attach and detach callbacks. The layer calls them on the thread that called WDU_VB_Init, from that
// thread's event loop (never from inside another call of the layer), and never after WDU_VB_Uninit. A
// callback may call any operation of the layer, WDU_VB_Uninit included; it must not destroy the backend.
struct EventTable {
    std::function<bool(std::uint32_t deviceHandle, const DeviceInfo& info, void* userData)> AttachCallback;
    std::function<void(std::uint32_t deviceHandle, void* userData)> DetachCallback;
    std::function<void(std::uint32_t deviceHandle, std::uint32_t powerState, void* userData)>
        PowerChangeCallback;
    void* UserData = nullptr;
};

inline constexpr std::size_t SetupPacketSize = 8;

// The USB library layer, and the contract every backend keeps (tests/usb/UsbDriverContractTest.cpp checks
// it on each of them). Every call is made on the thread that called WDU_VB_Init; no call blocks past its
// time-out.
//
// Order of checks: first the arguments that need no device (InvalidArgument), then the state: a session
// already open (Busy) or the device handle (below), then what depends on the device (a pipe its active
// setting lacks: NotFound; a pipe used against its direction: InvalidArgument).
//
// Handles are non-zero numbers of the layer's own, never reused. A handle works from the moment its attach
// callback is called, inside the callback too. A device whose attach callback returned false is released
// and its handle answers InvalidHandle; so does an unknown handle, and every handle once the layer is closed.
// A device answers DeviceGone from when the backend learns of its removal (at the latest when its detach
// callback comes) for as long as the layer stays open; plugged in again, it comes under a new handle. A
// device the backend could not open (no permission, say) is offered all the same, and every access to it
// answers why; each access tries to open it again, so that access granted meanwhile works without plugging
// the device in again.
//
// WDU_VB_Init: InvalidArgument for a null driverHandle, a null match table or zero match entries; Busy while
// a session is open; another failure status when the backend cannot watch for devices, so that a session
// never opens deaf. *driverHandle is written on success only. Devices present at the call are offered later,
// from the event loop, like those that arrive afterwards.
//
// WDU_Transfer: *bytesTransferred, when given, is 0 unless bytes moved, on every return; a null
// bytesTransferred is allowed and the transfer made all the same. A reply that does not come ends with
// Timeout after timeoutMs (0: no limit). The call keeps its synchronous shape, but waits in the calling
// thread's event loop: timers, repaints and input go on being handled meanwhile, while the layer's own
// arrivals and removals wait until the call has returned. One transfer at a time: another one asked for
// while a transfer waits (from a timer, say) answers Busy, after the handle checks, and touches neither its
// own buffer and count nor the waiting one's. The buffer and *bytesTransferred belong to the transfer until
// it returns: the backend may write into them until then, and never after, so the caller must neither move
// nor free them meanwhile. Nothing that runs from the event loop during the wait may destroy the backend or
// an object the waiting call's caller goes on to use (a window deleted on close, a deleteLater the wait's
// loop reaches): closing the layer ends the wait instead, and what is to go goes once the call has returned.
// A device removed while a
// transfer waits ends it with DeviceGone at once; WDU_VB_Uninit called meanwhile ends it with InvalidHandle
// at once, the backend having seen it through before it lets its library go.
//
// WDU_VB_Uninit: closes the session whose handle it is given, at once, also from inside a callback:
// arrivals and removals not yet delivered are dropped, and what they hold is released before the backend's
// library is. Any other handle, or a second call, does nothing.
class UsbDriver {
public:
    virtual ~UsbDriver() = default;

    virtual std::uint32_t WDU_VB_Init(std::uint32_t* driverHandle, const MatchEntry* matchTables,
                                      std::uint32_t numMatchTables, const EventTable& eventTable,
                                      std::uint32_t options, const void* windowHandle) = 0;
    virtual std::uint32_t WDU_SetInterface(std::uint32_t deviceHandle, std::uint32_t interfaceNumber,
                                           std::uint32_t alternateSetting) = 0;
    virtual std::uint32_t WDU_GetDeviceInfo(std::uint32_t deviceHandle, DeviceInfo* info) = 0;
    // buffer may be null when length is 0. readFlag: 0 host to device, 1 device to host.
    virtual std::uint32_t WDU_Transfer(std::uint32_t deviceHandle, std::uint32_t pipe, std::uint32_t readFlag,
                                       std::uint32_t options, std::uint8_t* buffer, std::uint32_t length,
                                       std::uint32_t* bytesTransferred,
                                       const std::array<std::uint8_t, SetupPacketSize>& setupPacket,
                                       std::uint32_t timeoutMs) = 0;
    // The status's text in 8-bit characters; like the original library's, it may carry a NUL.
    virtual QByteArray VB_Stat2Str(std::uint32_t status) = 0;
    virtual void WDU_VB_Uninit(std::uint32_t driverHandle) = 0;
};

} // namespace regbench::usb
