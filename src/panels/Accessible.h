#pragma once

#include <QAccessible>
#include <QString>
#include <QWidget>

namespace regbench::panels::Accessible {

// Has assistive technology see every Widget (a QWidget subclass with Q_OBJECT) through Interface, which is
// built from a Widget*. Installing again does nothing.
template <class Widget, class Interface> void install() {
    static const bool installed =
        (QAccessible::installFactory([](const QString& className, QObject* object) -> QAccessibleInterface* {
             if (className != QLatin1String(Widget::staticMetaObject.className()) || object == nullptr ||
                 !object->isWidgetType())
                 return nullptr;
             return new Interface(static_cast<Widget*>(object));
         }),
         true);
    Q_UNUSED(installed)
}

// Setting a name or a description announces it as new even when it is not, and a screen reader repeats the
// focused control: they are set only when they change.
inline void setName(QWidget* widget, const QString& name) {
    if (widget->accessibleName() != name)
        widget->setAccessibleName(name);
}

inline void setDescription(QWidget* widget, const QString& description) {
    if (widget->accessibleDescription() != description)
        widget->setAccessibleDescription(description);
}

} // namespace regbench::panels::Accessible
