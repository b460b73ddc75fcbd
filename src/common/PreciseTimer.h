#pragma once

#include <QObject>
#include <QTimer>

#include <memory>

namespace regbench::common {

class FdWatch;

// A repeating timer whose ticks come on their deadline to within the kernel's wake-up latency. QTimer rounds
// every wait up to a whole millisecond after each event the loop handles, so a 10 ms pause with a repaint
// at its start ended up to a millisecond late; a kernel timer on the loop's poll set does not round.
// Without a kernel timer (no file descriptor left) it falls back to QTimer.
class PreciseTimer : public QObject {
    Q_OBJECT
public:
    explicit PreciseTimer(QObject* parent = nullptr);
    ~PreciseTimer() override;
    PreciseTimer(const PreciseTimer&) = delete;
    PreciseTimer& operator=(const PreciseTimer&) = delete;

    void setInterval(int milliseconds);
    // Starts, or restarts, a full interval from now.
    void start();
    void stop();

signals:
    void timeout();

private:
    void arm(int milliseconds);
    void expired();

    int interval_ = 0;
    bool active_ = false;
    int fd_ = -1;
    std::unique_ptr<common::FdWatch> watch_;
    QTimer fallback_;
};

} // namespace regbench::common
