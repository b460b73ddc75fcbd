#include "panels/BitButton.h"

#include "panels/Accessible.h"
#include "panels/BitButtonAccessible.h"

#include <QPainter>
#include <QStyleOptionFocusRect>

namespace regbench::panels {

namespace {
const QColor SetColour(0, 255, 0);
const QColor ClearColour(127, 127, 127);
const QColor BorderColour(64, 64, 64);
} // namespace

BitButton::BitButton(QWidget* parent) : QPushButton(QStringLiteral("0"), parent) {
    Accessible::install<BitButton, BitButtonAccessible>();
    setCheckable(true);
}

void BitButton::setBit(bool set) {
    const State state = set ? State::Set : State::Clear;
    changingCaption_ = true;
    setText(set ? QStringLiteral("1") : QStringLiteral("0"));
    changingCaption_ = false;
    setChecked(set);
    if (state != state_) {
        state_ = state;
        update();
    }
}

void BitButton::paintEvent(QPaintEvent* event) {
    if (state_ == State::Unset)
        return QPushButton::paintEvent(event);
    QPainter painter(this);
    painter.fillRect(rect(), state_ == State::Set ? SetColour : ClearColour);
    // One pixel of border, two while pressed, the caption pushed in with it.
    const int border = isDown() ? 2 : 1;
    painter.setPen(QPen(BorderColour, border));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(rect()).adjusted(border / 2.0, border / 2.0, -border / 2.0, -border / 2.0));
    painter.setPen(palette().color(QPalette::ButtonText));
    painter.drawText(rect().translated(border - 1, border - 1), Qt::AlignCenter, text());
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = rect().adjusted(3, 3, -3, -3);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
}

} // namespace regbench::panels
