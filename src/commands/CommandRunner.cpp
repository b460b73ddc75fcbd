#include "commands/CommandRunner.h"

#include "access/RegisterOperations.h"
#include "commands/CommandLog.h"
#include "commands/Interrupts.h"
#include "commands/Snapshot.h"
#include "common/Csv.h"
#include "common/HexText.h"
#include "common/PreciseTimer.h"
#include "session/SampleCsv.h"
#include "session/Sampler.h"
#include "session/Session.h"
#include "usb/UsbDriver.h"

#include <QEventLoop>
#include <QTimer>

#include <cstdio>

namespace regbench::commands {

using access::AccessOutcome;
using common::HexText;
using regmap::RegisterMap;

CommandRunner::CommandRunner(session::Session& session, CommandLog& log)
    : session_(session), log_(log), timer_(std::make_unique<common::PreciseTimer>()) {}

CommandRunner::~CommandRunner() = default;

void CommandRunner::interrupt(int signal) {
    if (signal_ != 0)
        return;
    signal_ = signal;
    status_ = Interrupts::exitStatus(signal);
    log_.silence();
    session_.close(); // ends a transfer that waits, as Quit does
    if (loop_)
        loop_->quit();
}

void CommandRunner::runLoop(QEventLoop& loop, const bool& done) {
    if (done || signal_ != 0)
        return;
    loop_ = &loop;
    loop.exec();
    loop_ = nullptr;
}

int CommandRunner::start(int waitMs) {
    session_.start([this, waitMs](int) {
        QEventLoop loop;
        bool done = session_.attached();
        const auto end = [&done, &loop] {
            done = true;
            loop.quit();
        };
        QObject::connect(&session_, &session::Session::bridgeAttached, &loop, end);
        QTimer::singleShot(waitMs, &loop, end);
        runLoop(loop, done);
    });
    if (signal_ != 0)
        return status_;
    if (!session_.attached()) {
        log_.tell();
        return status_ = NoBridge;
    }
    log_.forget();
    return 0;
}

int CommandRunner::run(const Command& command) {
    if (command.verb != Verb::Run || !command.help.isEmpty()) {
        step(command);
        return status_;
    }
    for (const Command& line : command.script)
        if (!step(line))
            break;
    // A watch that an interrupt ended is done; a script that it ended was not.
    if (signal_ != 0)
        status_ = Interrupts::exitStatus(signal_);
    return status_;
}

bool CommandRunner::step(const Command& command) {
    if (!command.help.isEmpty()) {
        out(command.help);
        return true;
    }
    switch (command.verb) {
    case Verb::List:
        return list();
    case Verb::Read:
        return read(command);
    case Verb::Write:
        return write(command);
    case Verb::Set:
    case Verb::Clear:
        return changeBit(command);
    case Verb::Dump:
        return dump(command);
    case Verb::Load:
        return load(command);
    case Verb::Watch:
        return watch(command);
    case Verb::Run:
        break; // a script holds no script
    }
    return true;
}

void CommandRunner::out(const QString& text) {
    if (signal_ != 0)
        return;
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

bool CommandRunner::failed(int status) {
    status_ = status;
    return false;
}

std::optional<AccessOutcome> CommandRunner::readRegister(std::uint8_t address) {
    std::optional<AccessOutcome> outcome;
    if (signal_ == 0)
        session_.operations().read(address, [&outcome](const AccessOutcome& o) { outcome = o; });
    return outcome;
}

std::optional<AccessOutcome> CommandRunner::writeRegister(std::uint8_t address, std::uint8_t value) {
    std::optional<AccessOutcome> outcome;
    if (signal_ == 0)
        session_.operations().write(address, value, [&outcome](const AccessOutcome& o) { outcome = o; });
    return outcome;
}

// A failure for want of permission is no failed access but a bridge out of reach.
bool CommandRunner::succeeded(const std::optional<AccessOutcome>& outcome) {
    if (signal_ != 0)
        return false;
    if (!outcome)
        return failed(AccessFailed); // nothing answered: the operations stopped
    log_.LogLine(outcome->line);
    if (outcome->succeeded) {
        log_.forget();
        return true;
    }
    log_.tell();
    return failed(session_.link().LastStatus == usb::UsbStatus::NoPermission ? NoBridge : AccessFailed);
}

void CommandRunner::pause(int milliseconds) {
    QEventLoop loop;
    bool done = false;
    QObject::connect(timer_.get(), &common::PreciseTimer::timeout, &loop, [this, &done, &loop] {
        timer_->stop();
        done = true;
        loop.quit();
    });
    timer_->setInterval(milliseconds);
    timer_->start();
    runLoop(loop, done);
    timer_->stop();
}

bool CommandRunner::list() {
    const RegisterMap& map = session_.map();
    QString text = common::Csv::line(
        {QStringLiteral("address"), QStringLiteral("name"), QStringLiteral("tabs"), QStringLiteral("bits")});
    for (int address = 0; address < RegisterMap::RegisterCount; ++address) {
        const auto a = static_cast<std::size_t>(address);
        if (map.RegNames[a].isEmpty())
            continue;
        QStringList tabs;
        for (int tab = 0; tab <= map.TabCount; ++tab)
            for (int slot = 0; slot < RegisterMap::SlotsPerTab; ++slot)
                if (map.slotAddress(slot, tab) == address && !tabs.contains(map.TabNames[std::size_t(tab)])) {
                    tabs << map.TabNames[static_cast<std::size_t>(tab)];
                    break;
                }
        QStringList bits;
        for (int bit = RegisterMap::BitsPerRegister - 1; bit >= 0; --bit)
            bits << map.BitNames[static_cast<std::size_t>(bit)][a];
        text += common::Csv::line({HexText::byteText(address), map.RegNames[a], tabs.join(QLatin1Char(';')),
                                   bits.join(QLatin1Char(';'))});
    }
    out(text);
    return true;
}

bool CommandRunner::read(const Command& command) {
    for (const std::uint8_t address : command.registers) {
        const std::optional<AccessOutcome> outcome = readRegister(address);
        if (!succeeded(outcome))
            return false;
        out(HexText::byteText(outcome->value) + QLatin1Char('\n'));
    }
    return true;
}

bool CommandRunner::write(const Command& command) {
    return succeeded(writeRegister(command.registers.front(), command.value));
}

bool CommandRunner::changeBit(const Command& command) {
    const std::uint8_t address = command.registers.front();
    const std::optional<AccessOutcome> before = readRegister(address);
    if (!succeeded(before))
        return false;
    const auto mask = static_cast<std::uint8_t>(1u << command.bit);
    const auto value =
        static_cast<std::uint8_t>(command.verb == Verb::Set ? before->value | mask : before->value & ~mask);
    if (!succeeded(writeRegister(address, value)))
        return false;
    out(HexText::byteText(value) + QLatin1Char('\n'));
    return true;
}

bool CommandRunner::dump(const Command& command) {
    out(Snapshot::header());
    for (std::size_t i = 0; i < command.dumped.size(); ++i) {
        const std::uint8_t address = command.dumped[i];
        const std::optional<AccessOutcome> outcome = readRegister(address);
        if (!succeeded(outcome))
            return false;
        out(Snapshot::line(session_.map(), address, outcome->value));
        if (i + 1 < command.dumped.size())
            pause(access::RegisterOperations::PauseMs);
    }
    return true;
}

bool CommandRunner::load(const Command& command) {
    for (std::size_t i = 0; i < command.snapshot.size(); ++i) {
        const SnapshotEntry& entry = command.snapshot[i];
        if (!succeeded(writeRegister(entry.address, entry.value)))
            return false;
        if (command.verify) {
            const std::optional<AccessOutcome> back = readRegister(entry.address);
            if (!succeeded(back))
                return false;
            if (back->value != entry.value) {
                log_.LogLine(QStringLiteral("Verifying register ") + HexText::byteText(entry.address) +
                             QStringLiteral(" failed: wrote ") + HexText::byteText(entry.value) +
                             QStringLiteral(", read ") + HexText::byteText(back->value));
                log_.tell();
                return failed(AccessFailed);
            }
        }
        if (i + 1 < command.snapshot.size())
            pause(access::RegisterOperations::PauseMs);
    }
    return true;
}

bool CommandRunner::watch(const Command& command) {
    out(session::SampleCsv::header(session_.map(), command.registers));
    session::Sampler sampler(session_);
    sampler.setRegisters(command.registers);
    sampler.setInterval(command.intervalMs);
    QEventLoop loop;
    bool done = false;
    bool ok = true;
    const auto finish = [&](bool well) {
        done = true;
        ok = well;
        sampler.pause();
        loop.quit();
    };
    sampler.onSample = [&](const session::Sampler::Sample& sample) {
        for (const AccessOutcome& outcome : sample.outcomes) // a watch logs no line a sample, as the window's
            if (!done && !outcome.succeeded && !succeeded(outcome))
                finish(false);
        if (done || signal_ != 0)
            return;
        out(session::SampleCsv::line(sample));
        if (command.count && sampler.samples() >= *command.count)
            finish(true);
    };
    // Sampling would wait for the bridge to come back; a command reports that it went.
    QObject::connect(&session_, &session::Session::bridgeDetached, &loop, [&] {
        log_.tell();
        failed(AccessFailed);
        finish(false);
    });
    sampler.start();
    runLoop(loop, done);
    if (signal_ != 0) {
        status_ = 0; // Ctrl+C is how a watch without a count ends
        return false;
    }
    return ok;
}

} // namespace regbench::commands
