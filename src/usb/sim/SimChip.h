#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>

namespace regbench::usb::sim {

// The "RB-8 demo sensor hub": a fictional chip with 256 8-bit registers that answers behind the simulated
// bridge. A few registers follow time, so that reading them shows visible work; every address that has no
// meaning of its own is plain read/write storage.
class SimChip {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    static constexpr std::uint8_t ChipId = 0x00;
    static constexpr std::uint8_t Revision = 0x01;
    static constexpr std::uint8_t Tick = 0x02;   // (ms since reset / 50) & 0xFF
    static constexpr std::uint8_t Status = 0x03; // bits below
    static constexpr std::uint8_t Control = 0x10;
    static constexpr std::uint8_t Config = 0x11;
    static constexpr std::uint8_t Scratch = 0x7F;

    static constexpr std::uint8_t ChipIdValue = 0xB7;
    static constexpr std::uint8_t RevisionValue = 0x12;

    static constexpr std::uint8_t StatusBeat = 0x01;    // 1 Hz square wave
    static constexpr std::uint8_t StatusReady = 0x02;   // set from 100 ms after reset on
    static constexpr std::uint8_t StatusEnabled = 0x04; // follows Control bit 0

    static constexpr std::chrono::milliseconds TickPeriod{50};
    static constexpr std::chrono::milliseconds BeatHalfPeriod{500};
    static constexpr std::chrono::milliseconds ReadyDelay{100};

    // An empty clock means std::chrono::steady_clock.
    explicit SimChip(Clock clock = {});

    // Replaces the time source; the chip restarts as from power-on.
    void setClock(Clock clock);
    void reset();

    std::uint8_t read(std::uint8_t address) const;
    // Writes to read-only registers are ignored, as the chip acknowledges them on the bus all the same.
    void write(std::uint8_t address, std::uint8_t value);

    static bool isReadOnly(std::uint8_t address);
    static std::uint8_t resetValue(std::uint8_t address);

private:
    std::chrono::milliseconds sinceReset() const;

    Clock clock_;
    std::chrono::steady_clock::time_point epoch_;
    std::array<std::uint8_t, 256> registers_{};
};

} // namespace regbench::usb::sim
