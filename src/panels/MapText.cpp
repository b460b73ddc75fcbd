#include "panels/MapText.h"

#include <QFontMetrics>

#include <algorithm>

namespace regbench::panels {

QString MapText::cut(const QString& text, qsizetype length) {
    if (text.size() <= length)
        return text;
    // A surrogate pair stays whole or goes whole.
    const qsizetype kept = text.at(length - 1).isHighSurrogate() ? length - 1 : length;
    return text.left(kept) + QChar(0x2026);
}

QString MapText::bounded(const QString& text) {
    return cut(text, ShownLength);
}

// Every character the window's fonts draw is at least a pixel wide, but for those that are not drawn at all:
// a text with more characters than the width has pixels cannot fit, so no more of it is measured. Cut, it
// still shows "…" when all that is kept is drawn as nothing.
QString MapText::fitted(const QString& text, const QFontMetrics& metrics, int width) {
    return metrics.elidedText(cut(text, std::max(width, 0) + 1), Qt::ElideRight, width);
}

// A tooltip takes markup when it looks like some; escaped inside a paragraph it shows exactly.
QString MapText::toolTip(const QString& text) {
    return QStringLiteral("<p style='white-space:pre-wrap'>") + bounded(text).toHtmlEscaped() +
           QStringLiteral("</p>");
}

} // namespace regbench::panels
