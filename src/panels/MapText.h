#pragma once

#include <QString>

class QFontMetrics;

namespace regbench::panels {

// A text of the register map as a control shows it. The map keeps every text whole, however long the file
// made it; a control is given no more than it can show, so that nothing ever lays out a text as long as the
// file, which took seconds and hundreds of megabytes.
class MapText {
public:
    // More than any control can show, a tooltip on any screen included.
    static constexpr qsizetype ShownLength = 2000;

    // What a control keeps of a text: the first ShownLength characters, and "…" when there were more.
    static QString bounded(const QString& text);
    // The text if it fits in `width` pixels, otherwise as much of its start as fits, and "…".
    static QString fitted(const QString& text, const QFontMetrics& metrics, int width);
    // Rich text that shows the bounded text as written, never read as markup, wrapped where the screen is
    // too narrow for it.
    static QString toolTip(const QString& text);

private:
    // The first `length` characters and "…", or the text itself when it is no longer.
    static QString cut(const QString& text, qsizetype length);
};

} // namespace regbench::panels
