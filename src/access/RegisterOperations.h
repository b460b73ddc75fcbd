#pragma once

#include "access/AccessTurn.h"
#include "access/RegisterAccess.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace regbench::common {
class LogSink;
}
namespace regbench::regmap {
struct RegisterMap;
}

namespace regbench::access {

// What the register operations need of the page the user sees; the window is one, tests bring their own.
class RegisterPage {
public:
    virtual ~RegisterPage() = default;

    // The selected tab, 0 for the first; -1 when the tab strip has none.
    virtual int selectedTab() const = 0;
    // The value of a panel's hex text.
    virtual int panelValue(int panel) const = 0;
    // Shows a value just read in the panel's three views.
    virtual void showPanelValue(int panel, std::uint8_t value) = 0;
    // Shows the selected tab again with the values the map holds.
    virtual void showPage() = 0;
    // A modal message with an OK button only; returns once the user has closed it.
    virtual void showMessage(const QString& text) = 0;
};

// The register operations behind the panels' Read and Write buttons and the group and whole-device buttons:
// which registers, in which order, the pause after each, and every line and box they give; and single
// registers by address for callers without a page. Every access waits its turn (AccessTurn): one asked for
// while another waits for its reply runs after it, whatever asked.
class RegisterOperations {
public:
    // Waits while events go on being handled; a click may run a whole other operation inside it.
    using Wait = std::function<void(int milliseconds)>;
    using Done = std::function<void(const AccessOutcome& outcome)>;

    static constexpr int PanelCount = 6;
    static constexpr int PauseMs = 10;
    static inline const QString NotConnected = QStringLiteral("USB Device not connected!");

    RegisterOperations(regmap::RegisterMap& map, bridge::PipeTransfer& pipes, common::LogSink& log);

    // The page that the panel, group and whole-device operations work on, and their wait between registers;
    // without a page they do nothing.
    void setPage(RegisterPage* page, Wait wait);

    void readPanel(int panel);
    void writePanel(int panel);
    void readGroup();
    void writeGroup();
    void readAll();
    void writeAll();

    // One register by address: stores nothing, shows nothing and logs nothing; `done` is given the outcome
    // (its line the log's words), at once when no access waits, else once the accesses before it have ended.
    // Without a bridge the outcome is NotAttached and nothing is sent. Never called once stopped.
    void read(std::uint8_t address, const Done& done);
    void write(std::uint8_t address, int value, const Done& done);
    // The same by the register's name in the map, compared without regard to case.
    void read(const QString& name, const Done& done);
    void write(const QString& name, int value, const Done& done);

    // Background work (a watch): `job` runs once no access waits and no group or whole-device operation is
    // under way, at once when that is so now; never once stopped.
    void whenQuiet(const std::function<void()>& job);
    // Reads the registers one after the other as one turn, so that nothing the user asks meanwhile lands
    // between them; one outcome a register, as read() gives it. Empty when an access waits or once stopped:
    // call it from a job of whenQuiet().
    std::vector<AccessOutcome> readTogether(const std::vector<std::uint8_t>& addresses);

    AccessTurn& turn() { return turn_; }
    // The chip's 7-bit I2C address that every access names.
    void setChipAddress(std::uint8_t chip) { access_.setChipAddress(chip); }
    std::uint8_t chipAddress() const { return access_.chipAddress(); }

    // Nothing more goes out: an operation waiting in a pause ends when the wait returns, later calls and
    // those queued for their turn do nothing. For a program that is closing.
    void stop();

private:
    bool bridgeAttachedOrReported();
    std::optional<std::uint8_t> panelRegister(int panel);
    AccessOutcome accessRead(std::uint8_t address);
    AccessOutcome accessWrite(std::uint8_t address, int value);
    // One register's access when its turn comes, if a bridge is there.
    void single(const std::function<AccessOutcome()>& access, const Done& done);
    void readStored(std::uint8_t address);
    void writeStored(std::uint8_t address);
    void runGroup(const QString& heading, void (RegisterOperations::*access)(int));
    // False when stopped on the way.
    bool forEachNamedRegister(const QString& heading, void (RegisterOperations::*access)(std::uint8_t));
    void logLine(const QString& text);
    std::optional<std::uint8_t> named(const QString& name, const Done& done) const;

    regmap::RegisterMap& map_;
    bridge::PipeTransfer& pipes_;
    common::LogSink& log_;
    RegisterPage* page_ = nullptr;
    Wait wait_;
    RegisterAccess access_;
    AccessTurn turn_;
    bool stopped_ = false;
};

} // namespace regbench::access
