#pragma once

#include <QAccessibleWidget>

namespace regbench::panels {

class RegisterPanel;

// A panel as assistive technology sees it: a group named by its register, with the context menu's Watch as
// an action of its own, so that a watch opens without a pointer.
class RegisterPanelAccessible : public QAccessibleWidget {
public:
    static inline const QString WatchAction = QStringLiteral("Watch");

    explicit RegisterPanelAccessible(RegisterPanel* panel);

    QStringList actionNames() const override;
    void doAction(const QString& actionName) override;
    QStringList keyBindingsForAction(const QString& actionName) const override;
};

} // namespace regbench::panels
