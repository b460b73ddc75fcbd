#include "app/VisibleTabChain.h"

#include <QGuiApplication>
#include <QStyleHints>
#include <QWidget>

namespace regbench::app {

namespace {

// Clipped by each parent in turn, up to the window's client area.
bool showsInWindow(const QWidget* widget) {
    QRect shown = widget->rect();
    for (const QWidget* w = widget; !w->isWindow(); w = w->parentWidget())
        shown = shown.translated(w->pos()) & w->parentWidget()->rect();
    return !shown.isEmpty();
}

const QWidget* deepestFocusProxy(const QWidget* widget) {
    const QWidget* proxy = widget->focusProxy();
    while (proxy != nullptr && proxy->focusProxy() != nullptr)
        proxy = proxy->focusProxy();
    return proxy;
}

// As Qt's own Tab handling decides, with the window's visible area added.
bool takesTab(const QWidget* widget, const QWidget* from, const QWidget* window, bool next) {
    const Qt::FocusPolicy needed =
        QGuiApplication::styleHints()->tabFocusBehavior() == Qt::TabFocusAllControls ? Qt::TabFocus
                                                                                     : Qt::StrongFocus;
    const QWidget* proxy = deepestFocusProxy(widget);
    const QWidget* taker = proxy != nullptr ? proxy : widget;
    // A compound widget is entered at its focus proxy from one side only, or Tab would loop inside it.
    const bool compound =
        proxy != nullptr && (next ? proxy->isAncestorOf(widget) : widget->isAncestorOf(proxy));
    return widget->window() == window && taker->isEnabled() && (taker->focusPolicy() & needed) == needed &&
           !compound && taker != from && widget->isVisibleTo(window) && widget->isEnabled() &&
           showsInWindow(taker);
}

} // namespace

bool VisibleTabChain::focusNext(QWidget* window, bool next) {
    QWidget* from = window->focusWidget() != nullptr ? window->focusWidget() : window;
    for (QWidget* w = next ? from->nextInFocusChain() : from->previousInFocusChain(); w != from;
         w = next ? w->nextInFocusChain() : w->previousInFocusChain()) {
        if (takesTab(w, from, window, next)) {
            w->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return true;
        }
    }
    return false;
}

} // namespace regbench::app
