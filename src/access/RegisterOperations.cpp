#include "access/RegisterOperations.h"

#include "bridge/BridgeLink.h"
#include "bridge/PipeTransfer.h"
#include "common/LogSink.h"
#include "regmap/RegisterMap.h"

#include <utility>

namespace regbench::access {

RegisterOperations::RegisterOperations(regmap::RegisterMap& map, bridge::PipeTransfer& pipes,
                                       common::LogSink& log)
    : map_(map), pipes_(pipes), log_(log), access_(pipes) {}

void RegisterOperations::setPage(RegisterPage* page, Wait wait) {
    page_ = page;
    wait_ = std::move(wait);
}

void RegisterOperations::stop() {
    stopped_ = true;
    turn_.drop();
}

AccessOutcome RegisterOperations::accessRead(std::uint8_t address) {
    const AccessTurn::Access access(turn_);
    return access_.read(address);
}

AccessOutcome RegisterOperations::accessWrite(std::uint8_t address, int value) {
    const AccessTurn::Access access(turn_);
    return access_.write(address, value);
}

void RegisterOperations::single(const std::function<AccessOutcome()>& access, const Done& done) {
    if (stopped_ || turn_.deferred([this, access, done] { single(access, done); }))
        return;
    if (!pipes_.link().DeviceAttached) {
        done({AccessStatus::NotAttached, false, 0, common::InterfaceNotDetected});
        return;
    }
    done(access());
}

void RegisterOperations::whenQuiet(const std::function<void()>& job) {
    if (!stopped_ && !turn_.deferredUntilQuiet([this, job] { whenQuiet(job); }))
        job();
}

// Reading stops once stopped (Quit during a sample), and what was read so far is given to nobody.
std::vector<AccessOutcome> RegisterOperations::readTogether(const std::vector<std::uint8_t>& addresses) {
    std::vector<AccessOutcome> outcomes;
    if (stopped_ || turn_.busy())
        return outcomes;
    const AccessTurn::Access access(turn_);
    for (const std::uint8_t address : addresses) {
        if (stopped_)
            return {};
        outcomes.push_back(pipes_.link().DeviceAttached ? access_.read(address)
                                                        : AccessOutcome{AccessStatus::NotAttached, false, 0,
                                                                        common::InterfaceNotDetected});
    }
    return outcomes;
}

void RegisterOperations::read(std::uint8_t address, const Done& done) {
    single([this, address] { return accessRead(address); }, done);
}

void RegisterOperations::write(std::uint8_t address, int value, const Done& done) {
    single([this, address, value] { return accessWrite(address, value); }, done);
}

// Nothing when the map has no such name; `done` has been told so then.
std::optional<std::uint8_t> RegisterOperations::named(const QString& name, const Done& done) const {
    const int address = map_.addressOf(name);
    if (address >= 0)
        return static_cast<std::uint8_t>(address);
    done({AccessStatus::UnknownName, false, 0, QStringLiteral("No register is named \"%1\"").arg(name)});
    return std::nullopt;
}

void RegisterOperations::read(const QString& name, const Done& done) {
    if (const std::optional<std::uint8_t> address = named(name, done))
        read(*address, done);
}

void RegisterOperations::write(const QString& name, int value, const Done& done) {
    if (const std::optional<std::uint8_t> address = named(name, done))
        write(*address, value, done);
}

void RegisterOperations::logLine(const QString& text) {
    log_.LogText(text, common::CrLf);
}

bool RegisterOperations::bridgeAttachedOrReported() {
    if (pipes_.link().DeviceAttached)
        return true;
    page_->showMessage(NotConnected);
    logLine(common::InterfaceNotDetected);
    return false;
}

// The attach test comes first, so a panel without a register reports a missing bridge too.
std::optional<std::uint8_t> RegisterOperations::panelRegister(int panel) {
    if (!bridgeAttachedOrReported())
        return std::nullopt;
    const int address = map_.slotAddress(panel, page_->selectedTab());
    if (address < 0 || address >= regmap::RegisterMap::RegisterCount)
        return std::nullopt;
    return static_cast<std::uint8_t>(address);
}

void RegisterOperations::readPanel(int panel) {
    if (stopped_ || !page_ || turn_.deferred([this, panel] { readPanel(panel); }))
        return;
    const std::optional<std::uint8_t> address = panelRegister(panel);
    if (!address)
        return;
    const AccessOutcome outcome = accessRead(*address);
    // A failed read brings no register value: the panel and the table keep what the user holds.
    if (outcome.succeeded) {
        page_->showPanelValue(panel, outcome.value);
        map_.RegValues[*address] = outcome.value;
    }
    logLine(outcome.line);
}

void RegisterOperations::writePanel(int panel) {
    if (stopped_ || !page_ || turn_.deferred([this, panel] { writePanel(panel); }))
        return;
    const std::optional<std::uint8_t> address = panelRegister(panel);
    if (!address)
        return;
    const int value = page_->panelValue(panel);
    if (value >= 0 && value <= 0xFF)
        map_.RegValues[*address] = static_cast<std::int16_t>(value);
    logLine(accessWrite(*address, value).line);
}

void RegisterOperations::readGroup() {
    if (!turn_.deferred([this] { readGroup(); }))
        runGroup(QStringLiteral("Reading register group:"), &RegisterOperations::readPanel);
}

void RegisterOperations::writeGroup() {
    if (!turn_.deferred([this] { writeGroup(); }))
        runGroup(QStringLiteral("Writing register group:"), &RegisterOperations::writePanel);
}

// Each panel's register is looked up when the loop reaches it, so a tab changed during a pause counts.
void RegisterOperations::runGroup(const QString& heading, void (RegisterOperations::*access)(int)) {
    if (stopped_ || !page_)
        return;
    const AccessTurn::Operation operation(turn_);
    logLine(heading);
    for (int panel = 0; panel < PanelCount; ++panel) {
        (this->*access)(panel);
        wait_(PauseMs);
        if (stopped_)
            return;
    }
    logLine(QString());
}

void RegisterOperations::readAll() {
    if (turn_.deferred([this] { readAll(); }))
        return;
    if (forEachNamedRegister(QStringLiteral("Reading all device registers:"),
                             &RegisterOperations::readStored))
        page_->showPage();
}

void RegisterOperations::writeAll() {
    if (!turn_.deferred([this] { writeAll(); }))
        forEachNamedRegister(QStringLiteral("Writing all device registers:"),
                             &RegisterOperations::writeStored);
}

void RegisterOperations::readStored(std::uint8_t address) {
    const AccessOutcome outcome = accessRead(address);
    if (outcome.succeeded)
        map_.RegValues[address] = outcome.value;
    logLine(outcome.line);
}

void RegisterOperations::writeStored(std::uint8_t address) {
    logLine(accessWrite(address, map_.RegValues[address]).line);
}

// The attach flag is tested once, before the loop; a failed register does not end it.
bool RegisterOperations::forEachNamedRegister(const QString& heading,
                                              void (RegisterOperations::*access)(std::uint8_t)) {
    if (stopped_ || !page_)
        return false;
    const AccessTurn::Operation operation(turn_);
    logLine(heading);
    if (!pipes_.link().DeviceAttached) {
        page_->showMessage(NotConnected);
        logLine(common::InterfaceNotDetected);
    } else {
        for (int address = 0; address < regmap::RegisterMap::RegisterCount; ++address) {
            if (map_.RegNames[static_cast<std::size_t>(address)].isEmpty())
                continue;
            (this->*access)(static_cast<std::uint8_t>(address));
            wait_(PauseMs);
            if (stopped_)
                return false;
        }
    }
    logLine(QString());
    return true;
}

} // namespace regbench::access
