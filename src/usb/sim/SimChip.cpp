#include "usb/sim/SimChip.h"

#include <utility>

namespace regbench::usb::sim {

namespace {

struct ResetEntry {
    std::uint8_t address;
    std::uint8_t value;
};

// Power-on values of the registers the demo map names; the rest start at 0.
constexpr ResetEntry ResetValues[] = {
    {SimChip::ChipId, SimChip::ChipIdValue},
    {SimChip::Revision, SimChip::RevisionValue},
    {SimChip::Config, 0x43},
    {0x20, 0x02}, // TEMP_CFG
    {0x21, 0x50}, // TEMP_HI
    {0x22, 0x0A}, // TEMP_LO
    {0x23, 0x01}, // HUM_CFG
    {0x25, 0x04}, // ALS_GAIN
    {0x32, 0xFF}, // GPIO_PU
    {0x41, 0x80}, // LED_R
    {0x42, 0x80}, // LED_G
    {0x43, 0x80}, // LED_B
    {0x44, 0x32}, // BLINK
    {SimChip::Scratch, 0x5A},
};

std::chrono::steady_clock::time_point systemNow() {
    return std::chrono::steady_clock::now();
}

} // namespace

SimChip::SimChip(Clock clock) {
    setClock(std::move(clock));
}

void SimChip::setClock(Clock clock) {
    clock_ = clock ? std::move(clock) : Clock(systemNow);
    reset();
}

void SimChip::reset() {
    epoch_ = clock_();
    for (int a = 0; a < 256; ++a) {
        registers_[static_cast<std::size_t>(a)] = resetValue(static_cast<std::uint8_t>(a));
    }
}

std::chrono::milliseconds SimChip::sinceReset() const {
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(clock_() - epoch_);
    // A clock that steps back must not make the counters negative.
    return elapsed.count() < 0 ? std::chrono::milliseconds{0} : elapsed;
}

std::uint8_t SimChip::read(std::uint8_t address) const {
    switch (address) {
    case Tick:
        return static_cast<std::uint8_t>((sinceReset() / TickPeriod) & 0xFF);
    case Status: {
        const auto elapsed = sinceReset();
        std::uint8_t value = 0;
        if ((elapsed / BeatHalfPeriod) % 2 == 1) {
            value |= StatusBeat;
        }
        if (elapsed >= ReadyDelay) {
            value |= StatusReady;
        }
        if ((registers_[Control] & 0x01) != 0) {
            value |= StatusEnabled;
        }
        return value;
    }
    default:
        return registers_[address];
    }
}

void SimChip::write(std::uint8_t address, std::uint8_t value) {
    if (!isReadOnly(address)) {
        registers_[address] = value;
    }
}

bool SimChip::isReadOnly(std::uint8_t address) {
    return address == ChipId || address == Revision || address == Tick || address == Status;
}

std::uint8_t SimChip::resetValue(std::uint8_t address) {
    for (const ResetEntry& entry : ResetValues) {
        if (entry.address == address) {
            return entry.value;
        }
    }
    return 0;
}

} // namespace regbench::usb::sim
