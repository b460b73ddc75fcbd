#pragma once

#include "app/ActivityLog.h"
#include "app/MainWindow.h"
#include "app/WindowProgram.h"
#include "support/RecordingDriver.h"
#include "support/TestMap.h"
#include "usb/sim/SimUsbDriver.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace regbench::tests {

// The window on the simulated bridge, with its map alone in a folder of its own; a null map writes no file.
class WindowRig {
public:
    explicit WindowRig(const QByteArray& map = testMap()) {
        QFile file(dir.filePath(QStringLiteral("tabdefs.csv")));
        if (!map.isNull() && file.open(QIODevice::WriteOnly))
            file.write(map);
        recorded.timeoutCapMs = 50;
        QObject::connect(&session, &session::Session::chipAddressChanged,
                         [this](std::uint8_t address) { sim.setChipAddress(address); });
    }

    // Creates the window (reading the map, which may show a box) on the simulator, started with the given
    // options. False when they were refused or the driver start-up did not finish: QVERIFY(rig.start()).
    [[nodiscard]] bool start(const QStringList& arguments = {}) {
        const auto parsed = session::parseStartOptions(QStringList{"regbench-sim"} + arguments);
        if (!parsed.options)
            return false;
        window = app::openWindow(session, *parsed.options, dir.path());
        return QTest::qWaitFor([this] { return window->startUpDone(); }, 10000);
    }

    template <typename T> T* find(const QString& name) const { return window->findChild<T*>(name); }

    QString log() const { return window->activityLog().text(); }
    QStringList logLines() const { return log().split(QStringLiteral("\r\n"), Qt::SkipEmptyParts); }

    QTemporaryDir dir;
    usb::sim::SimUsbDriver sim;
    RecordingDriver recorded{sim};
    session::Session session{recorded};
    std::unique_ptr<app::MainWindow> window;
};

} // namespace regbench::tests
