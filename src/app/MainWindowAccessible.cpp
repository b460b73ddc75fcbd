#include "app/MainWindowAccessible.h"

#include "app/MainWindow.h"

namespace regbench::app {

namespace {

QAccessibleInterface* accessibleMainWindow(const QString& className, QObject* object) {
    if (className == QLatin1String(MainWindow::staticMetaObject.className()) && object != nullptr &&
        object->isWidgetType())
        return new MainWindowAccessible(static_cast<QWidget*>(object));
    return nullptr;
}

} // namespace

MainWindowAccessible::MainWindowAccessible(QWidget* window)
    : QAccessibleWidget(window, QAccessible::Window) {}

void MainWindowAccessible::install() {
    static const bool installed = (QAccessible::installFactory(accessibleMainWindow), true);
    Q_UNUSED(installed)
}

} // namespace regbench::app
