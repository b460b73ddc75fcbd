#include "panels/BitButtonAccessible.h"

#include "panels/BitButton.h"

namespace regbench::panels {

BitButtonAccessible::BitButtonAccessible(BitButton* button)
    : QAccessibleWidget(button, QAccessible::CheckBox) {}

BitButton* BitButtonAccessible::button() const {
    return static_cast<BitButton*>(widget());
}

// Events about the button are dropped while its caption changes: the only one the button sends then is
// the name change that every new button text announces.
bool BitButtonAccessible::isValid() const {
    return QAccessibleWidget::isValid() && !button()->changingCaption();
}

QAccessible::State BitButtonAccessible::state() const {
    QAccessible::State s = QAccessibleWidget::state();
    s.checkable = true;
    s.checked = button()->isChecked();
    s.pressed = button()->isDown();
    return s;
}

QStringList BitButtonAccessible::actionNames() const {
    return QStringList{toggleAction()} + QAccessibleWidget::actionNames();
}

void BitButtonAccessible::doAction(const QString& actionName) {
    if (actionName != toggleAction())
        return QAccessibleWidget::doAction(actionName);
    if (button()->isEnabled())
        button()->click();
}

} // namespace regbench::panels
