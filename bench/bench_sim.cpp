// Round trip of one register access through the simulated USB layer: the request OUT and the reply IN,
// each preceded by the device-information fetch the window makes before every transfer.
#include "BenchSupport.h"
#include "usb/sim/SimUsbDriver.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

using namespace regbench::bench;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int iterations = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100000;
    regbench::usb::sim::SimUsbDriver sim;
    OpenLayer layer(sim);
    if (!layer.waitForDevice()) {
        std::fputs("no bridge attached\n", stderr);
        return 1;
    }
    struct Case {
        const char* name;
        bool write;
        bool withInfo;
    };
    for (const Case& c :
         {Case{"read, info before transfers", false, true}, Case{"write, info before transfers", true, true},
          Case{"read, transfers only", false, false}}) {
        const std::vector<double> us =
            roundTripMicroseconds(sim, layer.handle, c.write, iterations, c.withInfo);
        if (us.empty()) {
            std::fputs("an access failed\n", stderr);
            return 1;
        }
        printMicroseconds(c.name, us);
    }
    return 0;
}
