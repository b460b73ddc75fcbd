#pragma once

#include "app/ActivityLog.h"
#include "app/MainWindow.h"
#include "support/TestMap.h"
#include "usb/sim/SimUsbDriver.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace regbench::tests {

// The window on the simulated bridge, with its map alone in a folder of its own.
class WindowRig {
public:
    explicit WindowRig(const QByteArray& map = testMap(), bool bridgePresent = true, bool writeMap = true) {
        if (writeMap) {
            QFile file(dir.filePath(QStringLiteral("tabdefs.csv")));
            file.open(QIODevice::WriteOnly);
            file.write(map);
        }
        sim.setAutoPlug(bridgePresent);
        sim.setTimeoutCap(50);
    }

    // Creating the window reads the map (and may show a box, so a ModalCloser must run first). The window is
    // on the simulated bridge unless given another backend.
    app::MainWindow& create(usb::UsbDriver* driver = nullptr) {
        window = std::make_unique<app::MainWindow>(driver != nullptr ? *driver : sim, dir.path());
        return *window;
    }

    // False when the driver start-up did not finish: use as QVERIFY(rig.start()).
    [[nodiscard]] bool start(usb::UsbDriver* driver = nullptr) {
        if (!window)
            create(driver);
        window->showCentred();
        return QTest::qWaitFor([this] { return window->startUpDone(); }, 10000);
    }

    template <typename T> T* find(const QString& name) const { return window->findChild<T*>(name); }

    QString log() const { return window->activityLog().text(); }
    QStringList logLines() const {
        QStringList lines = log().split(QStringLiteral("\r\n"));
        lines.removeLast();
        return lines;
    }
    int value(int address) const {
        return window->registerMap().RegValues.at(static_cast<std::size_t>(address));
    }

    QTemporaryDir dir;
    usb::sim::SimUsbDriver sim;
    std::unique_ptr<app::MainWindow> window;
};

} // namespace regbench::tests
