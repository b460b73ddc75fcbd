#pragma once

class QWidget;

namespace regbench::app {

// Tab and Shift+Tab in a window whose controls keep their places when it is made smaller: the controls that
// lie outside the window's visible area are passed over, so that the keyboard never leaves what the user
// sees, and reached again once the window is enlarged to show them.
class VisibleTabChain {
public:
    // Moves the focus to the next (or previous) control in the window's focus chain that takes Tab and shows
    // at least in part; false when there is none but the one that has the focus.
    static bool focusNext(QWidget* window, bool next);
};

} // namespace regbench::app
