#include "regmap/RegisterMapReader.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

using regbench::regmap::RegisterMap;
using regbench::regmap::RegisterMapReader;

// Aborts, as the fuzzer expects of a fault, naming the invariant broken.
#define REQUIRE(condition)                                                                                   \
    ((condition) ? void() : (std::fprintf(stderr, "invariant broken: %s\n", #condition), std::abort()))

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const RegisterMapReader::ReadResult result = RegisterMapReader::read(bytes);
    const RegisterMap& map = result.map;
    REQUIRE(map.TabCount >= -1 && map.TabCount < RegisterMap::MaxTabs);
    for (int t = 0; t < RegisterMap::MaxTabs; ++t) {
        for (int s = 0; s < RegisterMap::SlotsPerTab; ++s) {
            const int address = map.TabSlotAddr[s][t]; // -1 for none, and none beyond the last tab
            REQUIRE(address == -1 ||
                    (t <= map.TabCount && address >= 0 && address < RegisterMap::RegisterCount));
        }
        REQUIRE(t <= map.TabCount || map.TabNames[t].isEmpty());
    }
    for (int a = 0; a < RegisterMap::RegisterCount; ++a)
        REQUIRE(map.RegValues[a] == 0);
    REQUIRE(!result.titleBar || !result.titleBar->isEmpty());
    REQUIRE(!result.title || !result.title->isEmpty());

    const QString text = RegisterMapReader::decodeAnsi(bytes);
    REQUIRE(text.size() == bytes.size()); // one character per byte
    const int address = RegisterMapReader::readAddress(text);
    REQUIRE(address >= -RegisterMapReader::AddressClamp && address <= RegisterMapReader::AddressClamp);
    return 0;
}
