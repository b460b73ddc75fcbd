#include "app/WatchRecord.h"

#include "session/SampleCsv.h"

#include <algorithm>

namespace regbench::app {

void WatchRecord::addRegister(std::uint8_t address) {
    registers_.push_back(address);
    values_.emplace_back(times_.size(), static_cast<std::int16_t>(None));
    newest_.push_back(None);
}

void WatchRecord::add(const session::Sampler::Sample& sample) {
    times_.push_back(sample.timeMs);
    for (std::size_t c = 0; c < values_.size(); ++c) {
        const bool read = c < sample.outcomes.size() && sample.outcomes[c].succeeded;
        const int value = read ? sample.outcomes[c].value : None;
        values_[c].push_back(static_cast<std::int16_t>(value));
        if (read)
            newest_[c] = value;
    }
}

void WatchRecord::clear() {
    times_.clear();
    for (auto& column : values_)
        column.clear();
    std::fill(newest_.begin(), newest_.end(), None);
}

int WatchRecord::newest(std::size_t column) const {
    return newest_[column];
}

bool WatchRecord::newestFailed(std::size_t column) const {
    return !times_.empty() && values_[column].back() == None;
}

std::size_t WatchRecord::firstFrom(qint64 timeMs) const {
    return static_cast<std::size_t>(std::lower_bound(times_.begin(), times_.end(), timeMs) - times_.begin());
}

QString WatchRecord::csv(const regmap::RegisterMap& map) const {
    QString text = session::SampleCsv::header(map, registers_);
    std::vector<int> values(values_.size());
    for (std::size_t s = 0; s < times_.size(); ++s) {
        for (std::size_t c = 0; c < values_.size(); ++c)
            values[c] = values_[c][s];
        text += session::SampleCsv::line(times_[s], values);
    }
    return text;
}

} // namespace regbench::app
