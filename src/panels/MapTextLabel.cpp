#include "panels/MapTextLabel.h"

namespace regbench::panels {

MapTextLabel::MapTextLabel(const QString& text, QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setMapText(text);
}

void MapTextLabel::setMapText(const QString& text) {
    setText(text);
    updateToolTip();
}

void MapTextLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    updateToolTip();
}

void MapTextLabel::updateToolTip() {
    const bool cut = fontMetrics().horizontalAdvance(text()) > contentsRect().width();
    // A tooltip takes markup when it looks like some; escaped inside a paragraph it shows exactly.
    setToolTip(cut ? QStringLiteral("<p style='white-space:pre'>") + text().toHtmlEscaped() +
                         QStringLiteral("</p>")
                   : QString());
}

} // namespace regbench::panels
