#include "regmap/RegisterMapReader.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

using regbench::regmap::RegisterMap;
using regbench::regmap::RegisterMapReader;

namespace {

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

void checkMap(const RegisterMapReader::ReadResult& result) {
    const RegisterMap& map = result.map;
    require(map.TabCount >= -1 && map.TabCount < RegisterMap::MaxTabs, "TabCount in -1..31");
    for (int s = 0; s < RegisterMap::SlotsPerTab; ++s) {
        for (int t = 0; t < RegisterMap::MaxTabs; ++t) {
            const int address = map.TabSlotAddr[s][t];
            require(address == -1 || (address >= 0 && address < RegisterMap::RegisterCount),
                    "slot -1 or 0..255");
            require(t <= map.TabCount || address == -1, "no slot filled beyond the last tab");
        }
    }
    for (int a = 0; a < RegisterMap::RegisterCount; ++a)
        require(map.RegValues[a] == 0, "RegValues all 0");
    for (int t = map.TabCount + 1; t < RegisterMap::MaxTabs; ++t)
        require(map.TabNames[t].isEmpty(), "no caption beyond the last tab");
    require(!result.titleBar || !result.titleBar->isEmpty(), "titleBar never empty");
    require(!result.title || !result.title->isEmpty(), "title never empty");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    checkMap(RegisterMapReader::read(bytes));

    const QString text = RegisterMapReader::decodeAnsi(bytes);
    require(text.size() == bytes.size(), "one character per byte");
    const int address = RegisterMapReader::readAddress(text);
    require(address >= -RegisterMapReader::AddressClamp && address <= RegisterMapReader::AddressClamp,
            "address within the clamp");
    return 0;
}
