#pragma once

#include <QObject>

#include <functional>

class QEvent;

namespace regbench::access {
class AccessTurn;
}

namespace regbench::app {

// While a register access waits, the window goes on handling events (it repaints, it can be closed), but
// the user's input waits its turn with the accesses asked for meanwhile: an edit typed after a Read was
// clicked must land after that Read's value, not be overwritten by it. Held input is handed on in the order
// it came once the access has ended, as if the window had been busy all along. Input that `passes` lets
// through goes on at once: Quit must be able to end a transfer that never ends.
class InputHold : public QObject {
    Q_OBJECT
public:
    using Passes = std::function<bool(QObject* receiver, const QEvent& event)>;

    // Watches the whole application's input for as long as it lives.
    InputHold(access::AccessTurn& turn, Passes passes, QObject* parent = nullptr);
    ~InputHold() override;

    static bool isUserInput(const QEvent& event);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    access::AccessTurn& turn_;
    Passes passes_;
};

} // namespace regbench::app
