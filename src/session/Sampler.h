#pragma once

#include "access/RegisterAccess.h"

#include <QElapsedTimer>
#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace regbench::common {
class PreciseTimer;
}

namespace regbench::session {

class Session;

// Reads a set of registers again and again, every interval, with the operations Read uses: what a watch
// draws and what the watch command prints. A sample is one turn of its own (all its registers together)
// that waits for whatever access or group the user started, so nothing lands between its reads and it never
// lands inside a group. While the bridge is away sampling pauses, and it goes on when one is accepted.
class Sampler : public QObject {
    Q_OBJECT
public:
    static constexpr int DefaultIntervalMs = 100;
    static constexpr int MinIntervalMs = 10;
    static constexpr int MaxIntervalMs = 10000;
    // A sample that starts later than this after its due time counts as late.
    static constexpr int LateAfterMs = 2;

    struct Sample {
        qint64 timeMs = 0;                           // since start(), when its first read went out
        std::vector<access::AccessOutcome> outcomes; // one a register, in the order of registers()
    };

    explicit Sampler(Session& session, QObject* parent = nullptr);
    ~Sampler() override;
    Sampler(const Sampler&) = delete;
    Sampler& operator=(const Sampler&) = delete;

    // Taken from the next sample on.
    void setRegisters(std::vector<std::uint8_t> addresses);
    const std::vector<std::uint8_t>& registers() const { return registers_; }
    // Kept within MinIntervalMs..MaxIntervalMs.
    void setInterval(int milliseconds);
    int interval() const { return intervalMs_; }

    // The first sample at once, then one every interval; the time axis starts at 0. Calling start() while
    // paused resumes: the time axis goes on.
    void start();
    // No sample starts until start() again; one already under way ends, and nothing is told of it.
    void pause();
    // Forgets the counts and the time axis: the next start() begins at 0 again.
    void reset();
    bool running() const { return running_; }
    bool waitingForBridge() const { return running_ && !bridge_; }

    // Each sample as it is taken.
    std::function<void(const Sample& sample)> onSample;

    qint64 samples() const { return samples_; }
    // Samples that started more than LateAfterMs after their due time, and due times that passed while the
    // previous sample was still under way or waiting its turn.
    qint64 late() const { return late_; }
    qint64 missed() const { return missed_; }

private:
    void tick();
    void take(qint64 due);
    void resume();
    void bridgeGone();

    Session& session_;
    std::vector<std::uint8_t> registers_;
    int intervalMs_ = DefaultIntervalMs;
    std::unique_ptr<common::PreciseTimer> timer_;
    QElapsedTimer clock_; // the time axis, in nanoseconds
    qint64 origin_ = 0;   // where the due times count from, on clock_
    qint64 lastDue_ = -1; // the index of the last due time a sample was asked for
    bool running_ = false;
    bool bridge_ = false;
    bool asked_ = false; // a sample waits for its turn or is under way
    qint64 samples_ = 0;
    qint64 late_ = 0;
    qint64 missed_ = 0;
    // Cleared by the destructor: a sample that waited in the event loop tests it before going on.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace regbench::session
