#pragma once

#include "session/Sampler.h"

#include <QString>

#include <cstdint>
#include <vector>

namespace regbench::regmap {
struct RegisterMap;
}

namespace regbench::app {

// The samples of one watch, kept compactly for as long as it runs (10 minutes of 8 registers every 10 ms
// is about 1 MB): a time a sample and a value a register, -1 where its read failed or it was not watched yet.
class WatchRecord {
public:
    static constexpr int None = -1;

    // A register watched from the next sample on; earlier samples have none for it.
    void addRegister(std::uint8_t address);
    const std::vector<std::uint8_t>& registers() const { return registers_; }

    // A sample of the registers in order (one taken before the last ones were added has fewer outcomes).
    void add(const session::Sampler::Sample& sample);
    void clear();

    std::size_t size() const { return times_.size(); }
    qint64 time(std::size_t sample) const { return times_[sample]; }
    int value(std::size_t column, std::size_t sample) const { return values_[column][sample]; }
    // The newest value of a register, None before its first good read; and whether that read failed.
    int newest(std::size_t column) const;
    bool newestFailed(std::size_t column) const;
    // The first sample at or after the time.
    std::size_t firstFrom(qint64 timeMs) const;

    // What Save writes: the header and a line a sample.
    QString csv(const regmap::RegisterMap& map) const;

private:
    std::vector<std::uint8_t> registers_;
    std::vector<qint64> times_;
    std::vector<std::vector<std::int16_t>> values_; // [column][sample]
    std::vector<int> newest_;
};

} // namespace regbench::app
