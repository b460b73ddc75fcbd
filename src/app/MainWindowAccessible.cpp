#include "app/MainWindowAccessible.h"

namespace regbench::app {

MainWindowAccessible::MainWindowAccessible(QWidget* window)
    : QAccessibleWidget(window, QAccessible::Window) {}

} // namespace regbench::app
