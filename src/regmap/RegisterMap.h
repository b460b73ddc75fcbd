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

    // The lowest address whose register has this name, compared case-insensitively; -1 when none has it.
    // An empty name names no register.
    int addressOf(const QString& name) const {
        if (name.isEmpty())
            return -1;
        for (int a = 0; a < RegisterCount; ++a)
            if (RegNames[static_cast<std::size_t>(a)].compare(name, Qt::CaseInsensitive) == 0)
                return a;
        return -1;
    }
};

} // namespace regbench::regmap
