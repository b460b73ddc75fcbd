#pragma once

#include "access/RegisterAccess.h"
#include "bridge/BridgeLink.h"
#include "bridge/PipeTransfer.h"
#include "common/LogSink.h"
#include "regmap/RegisterMap.h"

#include <QTimer>
#include <QWidget>

#include <array>
#include <optional>

class QLabel;
class QPushButton;
class QTabWidget;

namespace regbench::panels {
class RegisterPanel;
}

namespace regbench::app {

class ActivityLog;

// The one window of the program. It owns all state for the whole run, and each user action is one of its
// handlers, run on the GUI thread. The USB layer is handed in by whoever creates the window.
class MainWindow : public QWidget, public common::LogSink {
    Q_OBJECT
public:
    static constexpr int PanelCount = 6;

    // mapDirectory is where tabdefs.csv is read from: the executable's folder in the program.
    MainWindow(usb::UsbDriver& driver, const QString& mapDirectory, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Shows the window centred on its screen; the driver start-up follows once the window is up.
    void showCentred();

    const regmap::RegisterMap& registerMap() const { return map_; }
    bridge::BridgeLink& bridgeLink() { return link_; }
    bridge::PipeTransfer& pipeTransfer() { return transfer_; }
    ActivityLog& activityLog() const { return *txtLog_; }
    panels::RegisterPanel& panel(int p) const { return *panels_.at(static_cast<std::size_t>(p)); }
    bool startUpDone() const { return startUpDone_; }
    bool isUnloaded() const { return unloaded_; }
    bool panelUpdating() const { return PanelUpdating; }

    void LogText(const QString& text, const QString& suffix) override;
    void clearLog() override;

    void Pause(int milliseconds);

    // Event handlers, public so that scripts and tests can run the ones whose buttons stay hidden.
    void cbQuit_Click();
    void cmdClearLog_Click();
    void TabStrip1_Click();
    void cbRegToggleBit_Click(int index);
    void tbRegdata_KeyPress(int panel, int& key);
    void updnRegData_Change(int panel);
    void cbRead_Click(int panel);
    void cbWrite_Click(int panel);
    void cbReadRegs_Click();
    void cbWriteRegs_Click();
    void cbReadAllRegs_Click();
    void cbWriteAllRegs_Click();

    void UpdateBitsFromText(int panel);
    void UpdateUpDownFromText(int panel);
    void UpdateTextFromBits(int index);
    void StoreValueFromText(int panel);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Initialize();
    void Form_Load();
    void Form_Activate();
    void Form_Unload();
    void Timer1_Timer();
    void LoadRegisterMap();

    void createHeader();
    void createPanels();
    void createLogAndButtons();
    QPushButton* createButton(const char* name, const QString& caption, const QRect& geometry, double points);

    void showMessage(const QString& text);
    bool bridgeAttachedOrReported();
    int slotAddress(int panel) const;
    void writePanelText(int panel, int value);
    std::optional<std::uint8_t> panelRegister(int panel);
    void runGroup(const QString& heading, void (MainWindow::*access)(int));
    void runWholeDevice(const QString& heading, bool read);

    QString mapDirectory_;
    regmap::RegisterMap map_;
    bridge::BridgeLink link_;
    bridge::PipeTransfer transfer_;
    access::RegisterAccess access_;
    bool PanelUpdating = false;
    bool PauseElapsed = false;
    bool activated_ = false;
    bool startUpDone_ = false;
    bool unloaded_ = false;
    QTimer Timer1;

    QLabel* Image1_ = nullptr;
    QLabel* lblQXVDevice_ = nullptr;
    QTabWidget* TabStrip1_ = nullptr;
    std::array<panels::RegisterPanel*, PanelCount> panels_{};
    QLabel* lblLog_ = nullptr;
    ActivityLog* txtLog_ = nullptr;
};

} // namespace regbench::app
