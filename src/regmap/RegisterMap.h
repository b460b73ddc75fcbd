#pragma once

#include <QString>

#include <array>
#include <cstdint>

namespace regbench::regmap {

// The chip's register map as the definition file describes it. The window owns one for the whole run;
// only RegValues changes after loading. Before loading every table holds zeros and empty texts.
struct RegisterMap {
    static constexpr int MaxTabs = 32;
    static constexpr int SlotsPerTab = 6;
    static constexpr int RegisterCount = 256;
    static constexpr int BitsPerRegister = 8;

    // Caption of tab t (tab t + 1 of the tab strip).
    std::array<QString, MaxTabs> TabNames;
    // [slot][tab]: address shown in panel `slot` of tab `tab`; -1 marks an empty slot once loaded.
    std::array<std::array<std::int16_t, MaxTabs>, SlotsPerTab> TabSlotAddr{};
    // Registers with a non-empty name are the device's registers for whole-device operations.
    std::array<QString, RegisterCount> RegNames;
    // [bit][address]
    std::array<std::array<QString, RegisterCount>, BitsPerRegister> BitNames;
    // Last known value of each register, 0 to 255.
    std::array<std::int16_t, RegisterCount> RegValues{};
    // Index of the last tab; -1 when a loaded file defined none.
    std::int16_t TabCount = 0;

    // TabSlotAddr[slot][tab], or -1 for a slot or tab outside the tables (no tab selected, say).
    int slotAddress(int slot, int tab) const {
        if (slot < 0 || slot >= SlotsPerTab || tab < 0 || tab >= MaxTabs)
            return -1;
        return TabSlotAddr[static_cast<std::size_t>(slot)][static_cast<std::size_t>(tab)];
    }
};

} // namespace regbench::regmap
