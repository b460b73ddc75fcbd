#include "panels/RegisterPanelAccessible.h"

#include "panels/RegisterPanel.h"

namespace regbench::panels {

RegisterPanelAccessible::RegisterPanelAccessible(RegisterPanel* panel)
    : QAccessibleWidget(panel, QAccessible::Grouping) {}

QStringList RegisterPanelAccessible::actionNames() const {
    return QAccessibleWidget::actionNames() << WatchAction;
}

void RegisterPanelAccessible::doAction(const QString& actionName) {
    if (actionName == WatchAction)
        emit static_cast<RegisterPanel*>(widget())->watchRequested(
            static_cast<RegisterPanel*>(widget())->index());
    else
        QAccessibleWidget::doAction(actionName);
}

QStringList RegisterPanelAccessible::keyBindingsForAction(const QString& actionName) const {
    if (actionName == WatchAction)
        return {QStringLiteral("Menu")};
    return QAccessibleWidget::keyBindingsForAction(actionName);
}

} // namespace regbench::panels
