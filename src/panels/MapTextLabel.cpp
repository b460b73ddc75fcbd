#include "panels/MapTextLabel.h"

#include "panels/Accessible.h"
#include "panels/MapText.h"

#include <QEvent>

namespace regbench::panels {

MapTextLabel::MapTextLabel(const QString& text, QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setMapText(text);
}

void MapTextLabel::setMapText(const QString& text) {
    mapText_ = MapText::bounded(text);
    fit();
}

void MapTextLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    fit();
}

void MapTextLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        fit();
}

void MapTextLabel::fit() {
    const QString shown = MapText::fitted(mapText_, fontMetrics(), contentsRect().width());
    const bool cut = shown != mapText_;
    setText(shown);
    setToolTip(cut ? MapText::toolTip(mapText_) : QString());
    Accessible::setName(this, cut ? mapText_ : QString());
}

} // namespace regbench::panels
