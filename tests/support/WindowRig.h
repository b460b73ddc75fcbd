#pragma once

#include "app/ActivityLog.h"
#include "app/MainWindow.h"
#include "usb/sim/SimUsbDriver.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace regbench::tests {

// A small map whose tabs exercise the panels: three registers, six, and one with an empty name.
inline QByteArray testMap() {
    return QByteArrayLiteral("TITLEBAR,Bench under test\r\n"
                             "TITLE,Test chip T-1\r\n"
                             "TABNAME,Main\r\n"
                             "REG,5,ALPHA\r\n"
                             "BITS,A7,A6,A5,A4,A3,A2,A1,A0\r\n"
                             "REG,16,BETA\r\n"
                             "REG,&H3A,GAMMA\r\n"
                             "TABNAME,Full\r\n"
                             "REG,0,ID\r\n"
                             "REG,10,TEN\r\n"
                             "REG,255,LAST\r\n"
                             "REG,5,ALPHA\r\n"
                             "REG,32,R20\r\n"
                             "REG,33,R21\r\n"
                             "TABNAME,Unnamed\r\n"
                             "REG,64,\r\n");
}

// The window on the simulated bridge, started up, with its map in a folder of its own.
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

    // Creating the window reads the map (and may show a box, so a ModalCloser must run first).
    app::MainWindow& create() {
        window = std::make_unique<app::MainWindow>(sim, dir.path());
        return *window;
    }

    app::MainWindow& start() {
        if (!window) {
            create();
        }
        window->showCentred();
        const bool started = QTest::qWaitFor([this] { return window->startUpDone(); }, 10000);
        if (!started) {
            qWarning("start-up did not finish");
        }
        return *window;
    }

    template <typename T> T* find(const QString& name) const { return window->findChild<T*>(name); }

    QString log() const { return window->activityLog().text(); }
    QStringList logLines() const {
        QStringList lines = log().split(QStringLiteral("\r\n"));
        lines.removeLast();
        return lines;
    }
    void clearLog() { window->cmdClearLog_Click(); }
    int value(int address) const {
        return window->registerMap().RegValues.at(static_cast<std::size_t>(address));
    }

    QTemporaryDir dir;
    usb::sim::SimUsbDriver sim;
    std::unique_ptr<app::MainWindow> window;
};

} // namespace regbench::tests
