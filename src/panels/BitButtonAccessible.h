#pragma once

#include <QAccessibleWidget>

namespace regbench::panels {

class BitButton;

// What assistive technology sees of a bit button: a check box, checked while its bit is set. Its Toggle
// action clicks the button, so that a bit set by a screen reader takes the path of a click or Space and the
// value follows; Qt's own action only flipped the checked state. Its caption ("1" or "0") is not its name,
// so a caption change is never told as a change of name.
class BitButtonAccessible : public QAccessibleWidget {
public:
    explicit BitButtonAccessible(BitButton* button);

    bool isValid() const override;
    QAccessible::State state() const override;
    QStringList actionNames() const override;
    void doAction(const QString& actionName) override;

private:
    BitButton* button() const;
};

} // namespace regbench::panels
