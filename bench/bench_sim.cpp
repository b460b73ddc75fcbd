// Round trip of one register access through the simulated USB layer: the request OUT and the reply IN,
// each preceded by the device-information fetch the window makes before every transfer.
#include "usb/BridgeProtocol.h"
#include "usb/sim/SimUsbDriver.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <vector>

using regbench::usb::DeviceInfo;
using regbench::usb::sim::SimUsbDriver;
namespace BridgeProtocol = regbench::usb::BridgeProtocol;

namespace {

constexpr std::uint32_t TimeoutMs = 30000;

struct Access {
    QByteArray request;
    std::uint32_t replyLength;
    std::size_t replyBuffer;
};

bool roundTrip(SimUsbDriver& sim, std::uint32_t handle, Access& access, bool withInfo) {
    DeviceInfo info;
    std::uint32_t count = 0;
    if (withInfo && sim.WDU_GetDeviceInfo(handle, &info) != 0) {
        return false;
    }
    if (sim.WDU_Transfer(handle, BridgeProtocol::RequestPipe, 0, 0,
                         reinterpret_cast<std::uint8_t*>(access.request.data()),
                         static_cast<std::uint32_t>(access.request.size()), &count, {}, TimeoutMs) != 0) {
        return false;
    }
    if (withInfo && sim.WDU_GetDeviceInfo(handle, &info) != 0) {
        return false;
    }
    std::vector<std::uint8_t> reply(access.replyBuffer, 0);
    return sim.WDU_Transfer(handle, BridgeProtocol::ReplyPipe, 1, 0, reply.data(), access.replyLength, &count,
                            {}, TimeoutMs) == 0 &&
           reply[0] == 0;
}

void report(const char* name, std::vector<double> micros) {
    std::sort(micros.begin(), micros.end());
    const double mean =
        std::accumulate(micros.begin(), micros.end(), 0.0) / static_cast<double>(micros.size());
    const std::size_t mid = micros.size() / 2;
    const double median = micros.size() % 2 ? micros[mid] : (micros[mid - 1] + micros[mid]) / 2;
    std::printf("%-28s n=%zu  mean %.3f us  median %.3f us  min %.3f us  max %.3f us\n", name, micros.size(),
                mean, median, micros.front(), micros.back());
}

int run(SimUsbDriver& sim, std::uint32_t handle, int iterations) {
    struct Case {
        const char* name;
        bool write;
        bool withInfo;
    };
    const Case cases[] = {{"read, info before transfers", false, true},
                          {"write, info before transfers", true, true},
                          {"read, transfers only", false, false}};
    for (const Case& c : cases) {
        std::vector<double> micros;
        micros.reserve(static_cast<std::size_t>(iterations));
        for (int i = 0; i < iterations; ++i) {
            const auto low = static_cast<std::uint8_t>(i & 0xFF);
            const auto bytes = [](const auto& request) {
                return QByteArray(reinterpret_cast<const char*>(request.data()), qsizetype(request.size()));
            };
            Access access = c.write ? Access{bytes(BridgeProtocol::writeRequest(0x7F, low)), 4, 10}
                                    : Access{bytes(BridgeProtocol::readRequest(low)), 3, 3};
            const auto start = std::chrono::steady_clock::now();
            const bool ok = roundTrip(sim, handle, access, c.withInfo);
            const auto stop = std::chrono::steady_clock::now();
            if (!ok) {
                std::fprintf(stderr, "access %d failed\n", i);
                return 1;
            }
            micros.push_back(std::chrono::duration<double, std::micro>(stop - start).count());
            if (sim.transfers().size() >= 4096) {
                sim.clearTransfers(); // outside the timed part: the record grows with every transfer
            }
        }
        report(c.name, std::move(micros));
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int iterations = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100000;

    SimUsbDriver sim;
    std::uint32_t driverHandle = 0;
    std::uint32_t handle = 0;
    regbench::usb::EventTable events;
    events.AttachCallback = [&handle](std::uint32_t h, const DeviceInfo&, void*) {
        handle = h;
        return true;
    };
    const regbench::usb::MatchEntry match{regbench::usb::BridgeVendorId, regbench::usb::BridgeProductId};
    if (sim.WDU_VB_Init(&driverHandle, &match, 1, events, 1, nullptr) != 0) {
        return 1;
    }
    for (int pass = 0; pass < 10 && handle == 0; ++pass) {
        QCoreApplication::processEvents();
    }
    if (handle == 0) {
        std::fprintf(stderr, "no bridge attached\n");
        return 1;
    }
    const int status = run(sim, handle, iterations);
    sim.WDU_VB_Uninit(driverHandle);
    return status;
}
