#pragma once

#include <QObject>
#include <QPointer>

#include <deque>
#include <functional>
#include <memory>

class QEvent;

namespace regbench::app {

// While a transfer waits, the window goes on handling events (it repaints, it can be closed), but the user's
// input must wait: a click that started a second transfer would interleave requests and replies. Held input
// is handed on in the order it came once the hold is released, as if the window had been busy all along.
// Input that `passes` lets through goes on at once: Quit must be able to end a transfer that never ends.
class InputHold : public QObject {
    Q_OBJECT
public:
    using Passes = std::function<bool(QObject* receiver, const QEvent& event)>;

    // Watches the whole application's input for as long as it lives.
    explicit InputHold(Passes passes, QObject* parent = nullptr);
    ~InputHold() override;

    void hold(bool held);
    // Forgets what is held: for a window that has closed.
    void discard();

    static bool isUserInput(const QEvent& event);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void handOn();

    struct Held {
        QPointer<QObject> receiver;
        std::unique_ptr<QEvent> event;
    };

    Passes passes_;
    bool held_ = false;
    std::deque<Held> queue_;
};

} // namespace regbench::app
