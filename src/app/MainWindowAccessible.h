#pragma once

#include <QAccessibleWidget>

namespace regbench::app {

// The main window as assistive technology sees it: a frame, a top-level window, so that positions relative
// to the window are told as such. A plain top-level widget would be a filler, whose window-relative
// positions are the screen's.
class MainWindowAccessible : public QAccessibleWidget {
public:
    explicit MainWindowAccessible(QWidget* window);
};

} // namespace regbench::app
