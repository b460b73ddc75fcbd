#pragma once

#include "common/LogLines.h"
#include "common/LogSink.h"

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QRawFont>
#include <QTimer>

#include <unordered_map>
#include <vector>

class QTextLayout;

namespace regbench::app {

// The activity log: a running transcript the user can scroll, select across lines and copy from, but not
// type into. A text box would lay out and keep every line it ever held; this view keeps the lines as compact
// text and lays out only the rows in view. Long lines wrap at the box's width. Every write drops the
// selection, puts the caret at the end and brings the newest line into view; a burst of messages is painted
// at most once a frame.
class ActivityLog : public QAbstractScrollArea, public common::LogSink {
    Q_OBJECT
public:
    struct Position {
        qint64 line = 0;
        int column = 0;
        auto operator<=>(const Position&) const = default;
    };

    static constexpr int FrameMs = 40;

    explicit ActivityLog(QWidget* parent = nullptr);

    void LogText(const QString& text, const QString& suffix) override;
    void clearLog() override;

    // The whole content with CR LF between lines, as the writers wrote it.
    QString text() const { return lines_.text(); }
    const common::LogLines& lines() const { return lines_; }

    Position cursorPosition() const { return cursor_; }
    Position anchorPosition() const { return anchor_; }
    bool hasSelection() const { return anchor_ != cursor_; }
    QString selectedText() const;
    void setSelection(Position anchor, Position cursor);
    void selectAll();
    void copy() const;
    Position endPosition() const;

    // The lines in view, at least in part.
    qint64 firstVisibleLine() const;
    qint64 lastVisibleLine() const;
    // Where a position is drawn in the viewport; scrolls it into view when it is not.
    QRect cursorRect(Position position) const;
    // The box of the character at a position, in the viewport; a line's break has no width.
    QRect characterRect(Position position) const;
    void ensureVisible(Position position);
    Position positionAt(QPoint viewportPoint) const;
    // Positions as assistive technology counts them: characters over the whole transcript, a break as one,
    // within an int.
    int characterOffset(Position position) const;
    Position positionAtCharacter(qint64 offset) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    // Lines that take more than one row at the current width; all others take one.
    struct Wrapped {
        qint64 line;
        int rows;
        qint64 extraBefore; // rows beyond one a line, summed over the wrapped lines before this one
    };

    int rowHeight() const;
    int rowsInView() const;
    int wrapWidth() const;
    int rowsOf(qint64 line) const;
    qreal advanceOf(QChar c) const;
    int layOut(qint64 line, QTextLayout& layout) const;
    void noteRows(qint64 fromLine);
    void relayout();
    qint64 totalRows() const;
    qint64 firstRowOf(qint64 line) const;
    qint64 lineAtRow(qint64 row, int* rowInLine) const;
    qint64 topRow() const;
    qint64 bottomTopRow() const;

    void scheduleFrame();
    void showFrame();
    void userScrolled(int value);
    void dragScroll();
    void announceCaret();

    void moveCursor(Position to, bool keepAnchor);
    Position wordStart(Position position, int direction) const;
    bool moveByKey(QKeyEvent* event);

    common::LogLines lines_;
    std::vector<Wrapped> wrapped_;
    int measuredWidth_ = 0; // the wrap width that wrapped_ holds the rows for
    std::vector<qreal> asciiAdvances_;
    mutable std::unordered_map<char16_t, qreal> otherAdvances_;
    QRawFont rawFont_; // the font itself, without the fallbacks that draw what it lacks
    Position anchor_;
    Position cursor_;
    bool followEnd_ = true; // until the user scrolls away, the view shows the newest line
    bool syncingScrollBar_ = false;
    bool dragging_ = false;
    QPoint dragPoint_;
    QTimer frame_;
    QElapsedTimer sinceFrame_;
    QTimer dragScroll_;
};

} // namespace regbench::app
