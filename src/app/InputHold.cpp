#include "app/InputHold.h"

#include "access/AccessTurn.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>

#include <memory>
#include <utility>

namespace regbench::app {

InputHold::InputHold(access::AccessTurn& turn, Passes passes, QObject* parent)
    : QObject(parent), turn_(turn), passes_(std::move(passes)) {
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

bool InputHold::eventFilter(QObject* watched, QEvent* event) {
    if (!turn_.busy() || !isUserInput(*event) || passes_(watched, *event))
        return false;
    turn_.deferred([receiver = QPointer<QObject>(watched), held = std::shared_ptr<QEvent>(event->clone())] {
        if (receiver)
            QCoreApplication::sendEvent(receiver, held.get());
    });
    return true;
}

} // namespace regbench::app
