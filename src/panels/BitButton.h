#pragma once

#include <QPushButton>

namespace regbench::panels {

// A bit button: caption "1" on pure green or "0" on mid grey, exactly those colours under any style. It
// paints its two states itself: a style sheet would do the same, but re-polishing and drawing styled buttons
// cost more than all the rest of showing a value. Until its bit is first shown it is a plain button. It is
// checkable, checked while its bit is set, so that assistive technology tells the bit's value as its state
// (BitButtonAccessible).
class BitButton : public QPushButton {
    Q_OBJECT
public:
    explicit BitButton(QWidget* parent);

    // The caption is what the bit handlers read back.
    void setBit(bool set);
    bool changingCaption() const { return changingCaption_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    enum class State { Unset, Set, Clear };
    State state_ = State::Unset;
    bool changingCaption_ = false;
};

} // namespace regbench::panels
