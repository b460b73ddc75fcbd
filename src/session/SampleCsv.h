#pragma once

#include "session/Sampler.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace regbench::regmap {
struct RegisterMap;
}

namespace regbench::session {

// Samples as comma-separated text, the same from the watch command and from a watch window's Save: a header
// `time_ms,NAME...`, then a line a sample, each value as 0xA0 and nothing where a read failed.
class SampleCsv {
public:
    // A register's column: its name in the map, or its address (0x05) when it has none.
    static QString columnName(const regmap::RegisterMap& map, std::uint8_t address);
    static QString header(const regmap::RegisterMap& map, const std::vector<std::uint8_t>& registers);
    static QString line(const Sampler::Sample& sample);
    // The same from values kept: one a register, negative where there is none.
    static QString line(qint64 timeMs, const std::vector<int>& values);
};

} // namespace regbench::session
