#include "session/SampleCsv.h"

#include "common/Csv.h"
#include "common/HexText.h"
#include "regmap/RegisterMap.h"

namespace regbench::session {

QString SampleCsv::columnName(const regmap::RegisterMap& map, std::uint8_t address) {
    const QString& name = map.RegNames[address];
    return name.isEmpty() ? common::HexText::byteText(address) : name;
}

QString SampleCsv::header(const regmap::RegisterMap& map, const std::vector<std::uint8_t>& registers) {
    QStringList fields{QStringLiteral("time_ms")};
    for (const std::uint8_t address : registers)
        fields << columnName(map, address);
    return common::Csv::line(fields);
}

QString SampleCsv::line(const Sampler::Sample& sample) {
    std::vector<int> values;
    for (const access::AccessOutcome& outcome : sample.outcomes)
        values.push_back(outcome.succeeded ? outcome.value : -1);
    return line(sample.timeMs, values);
}

QString SampleCsv::line(qint64 timeMs, const std::vector<int>& values) {
    QStringList fields{QString::number(timeMs)};
    for (const int value : values)
        fields << (value >= 0 ? common::HexText::byteText(value) : QString());
    return common::Csv::line(fields);
}

} // namespace regbench::session
