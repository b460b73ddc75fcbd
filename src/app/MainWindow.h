#pragma once

#include "access/RegisterOperations.h"
#include "common/LogSink.h"
#include "session/Session.h"

#include <QPointer>
#include <QWidget>

#include <array>
#include <vector>

class QLabel;
class QPushButton;
class QTabWidget;

namespace regbench::common {
class PreciseTimer;
}
namespace regbench::panels {
class MapTextLabel;
class RegisterPanel;
} // namespace regbench::panels

namespace regbench::app {

class ActivityLog;
class InputHold;
class WatchWindow;

// The one window of the program. Each user action is one of its handlers, run on the GUI thread. The session
// (the map, the connection, the register operations over the USB layer) is handed in by whoever creates the
// window, and outlives it.
class MainWindow : public QWidget, public common::LogSink, private access::RegisterPage {
    Q_OBJECT
public:
    static constexpr int PanelCount = access::RegisterOperations::PanelCount;

    // mapPath is the register map's file: tabdefs.csv in the executable's folder, unless another was chosen.
    MainWindow(session::Session& session, const QString& mapPath, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Shows the window centred on its screen; the driver start-up follows once the window is up.
    void showCentred();

    const regmap::RegisterMap& registerMap() const { return session_.map(); }
    bridge::BridgeLink& bridgeLink() { return session_.link(); }
    ActivityLog& activityLog() const { return *txtLog_; }
    panels::RegisterPanel& panel(int p) const { return *panels_.at(static_cast<std::size_t>(p)); }
    bool startUpDone() const { return startUpDone_; }
    bool isUnloaded() const { return unloaded_; }
    bool panelUpdating() const { return panelUpdating_; }

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

    void StoreValueFromText(int panel);

    // A watch window on the register the panel shows (nothing for an empty panel), or that register added to
    // a watch window already open.
    WatchWindow* openWatch(int panel);
    void addToWatch(WatchWindow* watch, int panel);
    // The watch windows open now.
    std::vector<WatchWindow*> watches() const;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    void Form_Initialize();
    void Form_Load();
    void Form_Activate();
    void Form_Unload();
    void Timer1_Timer();
    void LoadRegisterMap();
    void addMapTab(const QString& caption);

    void createHeader();
    void createPanels();
    void createLogAndButtons();
    void holdInputDuringTransfers(QPushButton* quit);
    void showPanelMenu(int panel, const QPoint& at);
    int panelAddress(int panel) const;
    QPushButton* createButton(const char* name, const QString& caption, const QRect& geometry, double points);

    // The register operations' view of the window.
    int selectedTab() const override;
    int panelValue(int panel) const override;
    void showPanelValue(int panel, std::uint8_t value) override;
    void showPage() override;
    void showMessage(const QString& text) override;

    session::Session& session_;
    regmap::RegisterMap& map_;
    access::RegisterOperations& operations_;
    QString mapPath_;
    bool panelUpdating_ = false;
    bool pauseElapsed_ = false;
    bool activated_ = false;
    bool startUpDone_ = false;
    bool unloaded_ = false;

    common::PreciseTimer* timer1_ = nullptr;
    QLabel* image1_ = nullptr;
    panels::MapTextLabel* lblQXVDevice_ = nullptr;
    QTabWidget* tabStrip1_ = nullptr;
    std::array<panels::RegisterPanel*, PanelCount> panels_{};
    ActivityLog* txtLog_ = nullptr;
    InputHold* inputHold_ = nullptr;
    std::vector<QPointer<WatchWindow>> watches_;
};

} // namespace regbench::app
