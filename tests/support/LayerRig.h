#pragma once

#include "usb/BridgeIds.h"
#include "usb/UsbDriver.h"

#include <QByteArray>
#include <QTest>

#include <cstdio>
#include <functional>
#include <grp.h>
#include <unistd.h>
#include <vector>

namespace regbench::tests {

// A backend of the USB layer opened with callbacks that record what they were given, and the bridge's
// request and reply as the register operations send them. The backend may be built after it.
struct Layer {
    explicit Layer(usb::UsbDriver& backend) : driver(backend) {}

    std::uint32_t init() {
        usb::EventTable table;
        table.AttachCallback = [this](std::uint32_t handle, const usb::DeviceInfo& info, void*) {
            attached.push_back(handle);
            infos.push_back(info);
            return onAttach ? onAttach(handle) : true;
        };
        table.DetachCallback = [this](std::uint32_t handle, void*) { detached.push_back(handle); };
        const usb::MatchEntry match{usb::BridgeVendorId, usb::BridgeProductId};
        return driver.WDU_VB_Init(&driverHandle, &match, 1, table, 1, nullptr);
    }
    void uninit() { driver.WDU_VB_Uninit(driverHandle); }

    // Sends data on pipe 0x02, or fills it from 0x82; data keeps what was moved. The program's time-out,
    // longer than a test function may take: a backend that also wakes at its time-out cannot hide a lost
    // wake-up.
    std::uint32_t transfer(std::uint32_t handle, std::uint32_t pipe, QByteArray& data,
                           std::uint32_t ms = 30000) {
        std::uint32_t done = 0xDEAD;
        const std::uint32_t status =
            driver.WDU_Transfer(handle, pipe, pipe >> 7, 0, reinterpret_cast<std::uint8_t*>(data.data()),
                                std::uint32_t(data.size()), &done, {}, ms);
        data.truncate(static_cast<qsizetype>(done));
        return status;
    }
    // The reply in hex, or "error" and the status of the transfer that failed.
    QByteArray exchange(std::uint32_t handle, const QByteArray& requestHex) {
        QByteArray request = QByteArray::fromHex(requestHex), reply(10, 0);
        std::uint32_t status = transfer(handle, 0x02, request);
        if (status == usb::UsbStatus::Success)
            status = transfer(handle, 0x82, reply);
        return status == usb::UsbStatus::Success ? reply.toHex() : "error " + QByteArray::number(status, 16);
    }

    usb::UsbDriver& driver;
    std::uint32_t driverHandle = 0;
    std::vector<std::uint32_t> attached;
    std::vector<usb::DeviceInfo> infos;
    std::vector<std::uint32_t> detached;
    std::function<bool(std::uint32_t)> onAttach;
};

// The main of a test that emulates devices with umockdev. Outside umockdev's wrapper nothing is emulated and
// the test is skipped (exit code 77, which CTest counts as skipped). Root ignores file modes, so a test of
// permissions gives root's rights away first.
template <typename Application, typename Test> int runEmulated(int argc, char** argv, bool asNobody = false) {
    if (!qgetenv("LD_PRELOAD").contains("libumockdev-preload")) {
        std::fputs("Not under umockdev-wrapper: skipped\n", stderr);
        return 77;
    }
    constexpr uid_t Nobody = 65534;
    if (asNobody && geteuid() == 0 &&
        (setgroups(0, nullptr) != 0 || setgid(Nobody) != 0 || setuid(Nobody) != 0)) {
        std::perror("cannot give up root's rights");
        return 1;
    }
    Application application(argc, argv);
    Test test;
    return QTest::qExec(&test, argc, argv);
}

} // namespace regbench::tests
