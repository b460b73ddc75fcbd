#include "panels/UpDown.h"

#include "panels/Accessible.h"

#include <QToolButton>

#include <algorithm>
#include <utility>

namespace regbench::panels {

UpDown::UpDown(QWidget* parent) : QWidget(parent) {
    up_ = makeArrow(Qt::UpArrow, QStringLiteral("up"), +1);
    down_ = makeArrow(Qt::DownArrow, QStringLiteral("down"), -1);
    nameArrows(QString());
}

void UpDown::nameArrows(const QString& subject) {
    const QString of = subject.isEmpty() ? QString() : QLatin1Char(' ') + subject;
    for (auto [arrow, name] :
         {std::pair{up_, QStringLiteral("Step up")}, {down_, QStringLiteral("Step down")}}) {
        Accessible::setName(arrow, name + of);
    }
}

QToolButton* UpDown::makeArrow(Qt::ArrowType arrow, const QString& name, int step) {
    auto* button = new QToolButton(this);
    button->setObjectName(name);
    button->setArrowType(arrow);
    button->setAutoRepeat(true);
    // The arrows are a mouse aid beside the hex text; the keyboard edits the text itself.
    button->setFocusPolicy(Qt::NoFocus);
    connect(button, &QToolButton::clicked, this, [this, step] { setValue(value_ + step); });
    return button;
}

void UpDown::setValue(int value) {
    value = std::clamp(value, Minimum, Maximum);
    if (value == value_)
        return;
    value_ = value;
    emit changed();
}

QSize UpDown::sizeHint() const {
    return {16, 25};
}

QSize UpDown::minimumSizeHint() const {
    return {8, 8};
}

void UpDown::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // Round the split once so the two halves always meet and fill the widget, odd heights included.
    const int split = height() / 2;
    up_->setGeometry(0, 0, width(), split);
    down_->setGeometry(0, split, width(), height() - split);
}

} // namespace regbench::panels
