#include "app/InputHold.h"

#include <QCoreApplication>
#include <QEvent>

#include <utility>

namespace regbench::app {

InputHold::InputHold(Passes passes, QObject* parent) : QObject(parent), passes_(std::move(passes)) {
    QCoreApplication::instance()->installEventFilter(this);
}

InputHold::~InputHold() {
    QCoreApplication::instance()->removeEventFilter(this);
}

bool InputHold::isUserInput(const QEvent& event) {
    switch (event.type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::InputMethod:
        return true;
    default:
        return false;
    }
}

void InputHold::hold(bool held) {
    held_ = held;
    // Handed on from the event loop, not from here: the code that released the hold has not finished yet.
    if (!held_ && !queue_.empty())
        QMetaObject::invokeMethod(this, &InputHold::handOn, Qt::QueuedConnection);
}

void InputHold::discard() {
    queue_.clear();
}

bool InputHold::eventFilter(QObject* watched, QEvent* event) {
    if (!held_ || !isUserInput(*event) || passes_(watched, *event))
        return false;
    queue_.push_back({watched, std::unique_ptr<QEvent>(event->clone())});
    return true;
}

// A handed-on click may start a transfer, which holds again: the rest then waits for that one.
void InputHold::handOn() {
    while (!held_ && !queue_.empty()) {
        Held next = std::move(queue_.front());
        queue_.pop_front();
        if (next.receiver)
            QCoreApplication::sendEvent(next.receiver, next.event.get());
    }
}

} // namespace regbench::app
