#include "app/ActivityLog.h"

#include "app/ActivityLogAccessible.h"
#include "panels/Accessible.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTextLayout>
#include <QtMath>

#include <algorithm>
#include <array>

namespace regbench::app {

namespace {

// Keeps the text clear of the frame on every side, where an editor's document margin would.
constexpr int Margin = 4;
constexpr int DragScrollMs = 50;

struct KeyMove {
    QKeySequence::StandardKey key;
    int move; // what the key does, see moveByKey
    bool select;
};

enum Move { CharLeft, CharRight, LineUp, LineDown, LineStart, LineEnd, DocStart, DocEnd, PageUp, PageDown };

constexpr std::array<KeyMove, 20> KeyMoves{{
    {QKeySequence::MoveToPreviousChar, CharLeft, false},
    {QKeySequence::SelectPreviousChar, CharLeft, true},
    {QKeySequence::MoveToNextChar, CharRight, false},
    {QKeySequence::SelectNextChar, CharRight, true},
    {QKeySequence::MoveToPreviousLine, LineUp, false},
    {QKeySequence::SelectPreviousLine, LineUp, true},
    {QKeySequence::MoveToNextLine, LineDown, false},
    {QKeySequence::SelectNextLine, LineDown, true},
    {QKeySequence::MoveToStartOfLine, LineStart, false},
    {QKeySequence::SelectStartOfLine, LineStart, true},
    {QKeySequence::MoveToEndOfLine, LineEnd, false},
    {QKeySequence::SelectEndOfLine, LineEnd, true},
    {QKeySequence::MoveToStartOfDocument, DocStart, false},
    {QKeySequence::SelectStartOfDocument, DocStart, true},
    {QKeySequence::MoveToEndOfDocument, DocEnd, false},
    {QKeySequence::SelectEndOfDocument, DocEnd, true},
    {QKeySequence::MoveToPreviousPage, PageUp, false},
    {QKeySequence::SelectPreviousPage, PageUp, true},
    {QKeySequence::MoveToNextPage, PageDown, false},
    {QKeySequence::SelectNextPage, PageDown, true},
}};

bool isWordCharacter(QChar c) {
    return c.isLetterOrNumber() || c == u'_';
}

} // namespace

ActivityLog::ActivityLog(QWidget* parent) : QAbstractScrollArea(parent) {
    panels::Accessible::install<ActivityLog, ActivityLogAccessible>();
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    verticalScrollBar()->setAccessibleName(QStringLiteral("Log"));
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    frame_.setSingleShot(true);
    connect(&frame_, &QTimer::timeout, this, &ActivityLog::showFrame);
    dragScroll_.setInterval(DragScrollMs);
    connect(&dragScroll_, &QTimer::timeout, this, &ActivityLog::dragScroll);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &ActivityLog::userScrolled);
    relayout();
}

void ActivityLog::LogText(const QString& text, const QString& suffix) {
    const Position from = endPosition();
    lines_.append(text + suffix);
    noteRows(from.line);
    // The caret goes after the last character, which drops any selection and brings the newest line into
    // view, even when the user has scrolled up or clicked into the log.
    anchor_ = cursor_ = endPosition();
    followEnd_ = true;
    scheduleFrame();
    if (QAccessible::isActive()) {
        QAccessibleTextInsertEvent inserted(
            this, characterOffset(from), lines_.text(from.line, from.column, cursor_.line, cursor_.column));
        QAccessible::updateAccessibility(&inserted);
        announceCaret();
    }
}

void ActivityLog::clearLog() {
    // Copied only for assistive technology, which is told what went.
    const Position end = endPosition();
    const QString removed = QAccessible::isActive() ? lines_.text(0, 0, end.line, end.column) : QString();
    lines_.clear();
    wrapped_.clear();
    anchor_ = cursor_ = Position{};
    followEnd_ = true;
    frame_.stop();
    showFrame();
    viewport()->repaint();
    if (QAccessible::isActive()) {
        QAccessibleTextRemoveEvent gone(this, 0, removed);
        QAccessible::updateAccessibility(&gone);
        announceCaret();
    }
}

void ActivityLog::announceCaret() {
    QAccessibleTextCursorEvent caret(this, characterOffset(cursor_));
    QAccessible::updateAccessibility(&caret);
}

// ---- rows: a line takes as many rows as it wraps into at the viewport's width

int ActivityLog::rowHeight() const {
    return std::max(1, fontMetrics().lineSpacing());
}

int ActivityLog::rowsInView() const {
    return std::max(1, (viewport()->height() - 2 * Margin) / rowHeight());
}

int ActivityLog::wrapWidth() const {
    return std::max(1, viewport()->width() - 2 * Margin);
}

// Most lines are far shorter than the width; adding up their glyphs' advances proves that they fit without
// laying them out. Kerning only ever narrows such a line, and the slack covers rounding.
int ActivityLog::rowsOf(qint64 line) const {
    const QString text = lines_.line(line);
    const qreal room = wrapWidth() - 2;
    qreal width = 0;
    for (auto c = text.begin(); c != text.end() && width <= room; ++c) {
        const qreal advance = advanceOf(*c);
        width += advance < 0 ? room + 1 : advance;
    }
    if (width <= room)
        return 1;
    QTextLayout layout;
    return layOut(line, layout);
}

// Negative for a character whose line must be laid out to know its width: controls such as a tab, marks,
// surrogates, scripts that are shaped, and characters the font lacks, which another font would draw.
qreal ActivityLog::advanceOf(QChar c) const {
    if (c.unicode() < asciiAdvances_.size())
        return asciiAdvances_[c.unicode()];
    if (const auto found = otherAdvances_.find(c.unicode()); found != otherAdvances_.end())
        return found->second;
    const QChar::Script script = c.script();
    const bool summable = (script == QChar::Script_Common || script == QChar::Script_Latin ||
                           script == QChar::Script_Greek || script == QChar::Script_Cyrillic) &&
                          !c.isMark() && !c.isSurrogate() && c.category() != QChar::Other_Format &&
                          c.category() != QChar::Other_Control && rawFont_.supportsCharacter(c);
    const qreal advance = summable ? QFontMetricsF(font()).horizontalAdvance(c) : -1;
    otherAdvances_.emplace(c.unicode(), advance);
    return advance;
}

int ActivityLog::layOut(qint64 line, QTextLayout& layout) const {
    layout.setText(lines_.line(line));
    layout.setFont(font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    for (int row = 0;; ++row) {
        QTextLine textLine = layout.createLine();
        if (!textLine.isValid())
            break;
        textLine.setLineWidth(wrapWidth());
        textLine.setPosition(QPointF(0, row * rowHeight()));
    }
    layout.endLayout();
    return std::max(1, layout.lineCount());
}

void ActivityLog::noteRows(qint64 fromLine) {
    while (!wrapped_.empty() && wrapped_.back().line >= fromLine)
        wrapped_.pop_back();
    for (qint64 line = fromLine; line < lines_.lineCount(); ++line) {
        const int rows = rowsOf(line);
        if (rows > 1) {
            const qint64 before =
                wrapped_.empty() ? 0 : wrapped_.back().extraBefore + wrapped_.back().rows - 1;
            wrapped_.push_back({line, rows, before});
        }
    }
}

void ActivityLog::relayout() {
    asciiAdvances_.assign(128, -1);
    const QFontMetricsF metrics(font());
    for (char16_t c = 32; c < 127; ++c)
        asciiAdvances_[c] = metrics.horizontalAdvance(QChar(c));
    rawFont_ = QRawFont::fromFont(font());
    otherAdvances_.clear();
    measuredWidth_ = wrapWidth();
    wrapped_.clear();
    noteRows(0);
    showFrame();
}

qint64 ActivityLog::totalRows() const {
    const qint64 extra = wrapped_.empty() ? 0 : wrapped_.back().extraBefore + wrapped_.back().rows - 1;
    return lines_.lineCount() + extra;
}

qint64 ActivityLog::firstRowOf(qint64 line) const {
    const auto after = std::upper_bound(wrapped_.begin(), wrapped_.end(), line,
                                        [](qint64 l, const Wrapped& w) { return l < w.line; });
    if (after == wrapped_.begin())
        return line;
    const Wrapped& last = *(after - 1);
    return line + last.extraBefore + (last.line < line ? last.rows - 1 : 0);
}

qint64 ActivityLog::lineAtRow(qint64 row, int* rowInLine) const {
    // The last wrapped line that starts at or above the row decides.
    const auto after =
        std::upper_bound(wrapped_.begin(), wrapped_.end(), row,
                         [](qint64 r, const Wrapped& w) { return r < w.line + w.extraBefore; });
    qint64 line = row;
    int inLine = 0;
    if (after != wrapped_.begin()) {
        const Wrapped& w = *(after - 1);
        const qint64 first = w.line + w.extraBefore;
        if (row < first + w.rows) {
            line = w.line;
            inLine = static_cast<int>(row - first);
        } else {
            line = row - w.extraBefore - (w.rows - 1);
        }
    }
    line = std::clamp<qint64>(line, 0, lines_.lineCount() - 1);
    if (rowInLine != nullptr)
        *rowInLine = inLine;
    return line;
}

qint64 ActivityLog::bottomTopRow() const {
    return std::max<qint64>(0, totalRows() - rowsInView());
}

qint64 ActivityLog::topRow() const {
    return followEnd_ ? bottomTopRow() : std::min<qint64>(verticalScrollBar()->value(), bottomTopRow());
}

qint64 ActivityLog::firstVisibleLine() const {
    return lineAtRow(topRow(), nullptr);
}

qint64 ActivityLog::lastVisibleLine() const {
    const qint64 lastRow = topRow() + rowsInView() - 1;
    return lineAtRow(std::min(lastRow, totalRows() - 1), nullptr);
}

// ---- frames: the scroll bar and the viewport follow the lines at most once a frame

// A write shows at once when a frame has passed since the last one, so that during a long operation the
// painting happens right after an access, at the start of its pause, and never delays the pause's end. Writes
// that come faster are shown by the next one that is due, or 40 ms after the last of them.
void ActivityLog::scheduleFrame() {
    if (!sinceFrame_.isValid() || sinceFrame_.elapsed() >= FrameMs) {
        frame_.stop();
        showFrame();
        return;
    }
    frame_.start(FrameMs);
}

void ActivityLog::showFrame() {
    sinceFrame_.start();
    QScrollBar* bar = verticalScrollBar();
    syncingScrollBar_ = true;
    // The bar counts rows; past its int range the view still follows the end.
    const auto top = static_cast<int>(std::min<qint64>(bottomTopRow(), INT_MAX));
    bar->setRange(0, top);
    bar->setPageStep(rowsInView());
    bar->setSingleStep(1);
    if (followEnd_)
        bar->setValue(top);
    syncingScrollBar_ = false;
    viewport()->update();
}

void ActivityLog::userScrolled(int value) {
    if (syncingScrollBar_)
        return;
    followEnd_ = value >= verticalScrollBar()->maximum();
    viewport()->update();
}

// ---- painting

void ActivityLog::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(viewport());
    const Position from = std::min(anchor_, cursor_);
    const Position to = std::max(anchor_, cursor_);
    int rowInLine = 0;
    qint64 line = lineAtRow(topRow(), &rowInLine);
    for (int y = Margin - rowInLine * rowHeight(); y < viewport()->height() && line < lines_.lineCount();
         ++line) {
        QTextLayout layout;
        const int rows = layOut(line, layout);
        QList<QTextLayout::FormatRange> selections;
        if (from != to && from.line <= line && line <= to.line) {
            const int start = line == from.line ? from.column : 0;
            // A selected line break shows as the selection reaching one character past the text.
            const int end = line == to.line ? to.column : lines_.lineLength(line) + 1;
            QTextLayout::FormatRange range{start, end - start, {}};
            range.format.setBackground(palette().highlight());
            range.format.setForeground(palette().highlightedText());
            selections << range;
        }
        const QPointF origin(Margin, y);
        layout.draw(&painter, origin, selections);
        if (hasFocus() && line == cursor_.line)
            layout.drawCursor(&painter, origin, cursor_.column);
        y += rows * rowHeight();
    }
}

void ActivityLog::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    // The scroll area has resized the viewport before this handler runs, so the width to compare with is the
    // one the rows were measured at.
    if (wrapWidth() != measuredWidth_)
        relayout();
    else
        showFrame();
}

void ActivityLog::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        relayout();
}

QRect ActivityLog::cursorRect(Position position) const {
    QTextLayout layout;
    layOut(position.line, layout);
    const QTextLine textLine = layout.lineForTextPosition(position.column);
    const int row = textLine.isValid() ? textLine.lineNumber() : 0;
    const qreal x = textLine.isValid() ? textLine.cursorToX(position.column) : 0;
    const qint64 y = Margin + (firstRowOf(position.line) + row - topRow()) * rowHeight();
    return {Margin + static_cast<int>(x), static_cast<int>(y), 1, rowHeight()};
}

QRect ActivityLog::characterRect(Position position) const {
    QTextLayout layout;
    layOut(position.line, layout);
    const QTextLine textLine = layout.lineForTextPosition(position.column);
    if (!textLine.isValid())
        return {};
    const qreal leading = textLine.cursorToX(position.column, QTextLine::Leading);
    const qreal trailing = position.column < lines_.lineLength(position.line)
                               ? textLine.cursorToX(position.column, QTextLine::Trailing)
                               : leading;
    const qint64 y = Margin + (firstRowOf(position.line) + textLine.lineNumber() - topRow()) * rowHeight();
    const int left = Margin + qFloor(std::min(leading, trailing));
    return {left, static_cast<int>(y), Margin + qCeil(std::max(leading, trailing)) - left, rowHeight()};
}

ActivityLog::Position ActivityLog::positionAt(QPoint point) const {
    const int y = point.y() - Margin;
    const qint64 row = std::clamp<qint64>(topRow() + y / rowHeight() - (y < 0 ? 1 : 0), 0, totalRows() - 1);
    int rowInLine = 0;
    const qint64 line = lineAtRow(row, &rowInLine);
    QTextLayout layout;
    layOut(line, layout);
    const QTextLine textLine = layout.lineAt(std::min(rowInLine, layout.lineCount() - 1));
    return {line, textLine.xToCursor(point.x() - Margin)};
}

int ActivityLog::characterOffset(Position position) const {
    return static_cast<int>(
        std::min<qint64>(lines_.characterOffset(position.line) + position.column, INT_MAX));
}

ActivityLog::Position ActivityLog::positionAtCharacter(qint64 offset) const {
    const qint64 line = lines_.lineAtCharacter(offset);
    return {line, static_cast<int>(
                      std::clamp<qint64>(offset - lines_.characterOffset(line), 0, lines_.lineLength(line)))};
}

// ---- selection and copy

ActivityLog::Position ActivityLog::endPosition() const {
    const qint64 last = lines_.lineCount() - 1;
    return {last, lines_.lineLength(last)};
}

QString ActivityLog::selectedText() const {
    const Position from = std::min(anchor_, cursor_);
    const Position to = std::max(anchor_, cursor_);
    return lines_.text(from.line, from.column, to.line, to.column);
}

void ActivityLog::setSelection(Position anchor, Position cursor) {
    const auto clamp = [this](Position p) {
        p.line = std::clamp<qint64>(p.line, 0, lines_.lineCount() - 1);
        p.column = std::clamp(p.column, 0, lines_.lineLength(p.line));
        return p;
    };
    anchor_ = clamp(anchor);
    cursor_ = clamp(cursor);
    viewport()->update();
}

void ActivityLog::selectAll() {
    setSelection({}, endPosition());
}

void ActivityLog::copy() const {
    if (hasSelection())
        QApplication::clipboard()->setText(selectedText());
}

void ActivityLog::moveCursor(Position to, bool keepAnchor) {
    setSelection(keepAnchor ? anchor_ : to, to);
    ensureVisible(cursor_);
}

void ActivityLog::ensureVisible(Position position) {
    const qint64 row = firstRowOf(position.line);
    if (row >= topRow() && row < topRow() + rowsInView())
        return;
    const qint64 top = row < topRow() ? row : row - rowsInView() + 1;
    followEnd_ = top >= bottomTopRow();
    showFrame();
    if (!followEnd_)
        verticalScrollBar()->setValue(static_cast<int>(std::min<qint64>(top, INT_MAX)));
}

// The start of the word at a position (direction -1) or its end (+1).
ActivityLog::Position ActivityLog::wordStart(Position position, int direction) const {
    const QString text = lines_.line(position.line);
    int column = position.column;
    if (direction < 0) {
        while (column > 0 && isWordCharacter(text[column - 1]))
            --column;
    } else {
        while (column < text.size() && isWordCharacter(text[column]))
            ++column;
    }
    return {position.line, column};
}

// ---- keyboard and mouse

bool ActivityLog::moveByKey(QKeyEvent* event) {
    const auto found = std::find_if(KeyMoves.begin(), KeyMoves.end(),
                                    [event](const KeyMove& move) { return event->matches(move.key); });
    if (found == KeyMoves.end())
        return false;
    Position to = cursor_;
    const qint64 last = lines_.lineCount() - 1;
    const auto lineEnd = [this](qint64 line) { return lines_.lineLength(line); };
    switch (found->move) {
    case CharLeft:
        to = to.column > 0 ? Position{to.line, to.column - 1}
                           : (to.line > 0 ? Position{to.line - 1, lineEnd(to.line - 1)} : to);
        break;
    case CharRight:
        to = to.column < lineEnd(to.line) ? Position{to.line, to.column + 1}
                                          : (to.line < last ? Position{to.line + 1, 0} : to);
        break;
    case LineUp:
    case LineDown:
    case PageUp:
    case PageDown: {
        const qint64 step = found->move == LineUp || found->move == LineDown ? 1 : rowsInView();
        to.line = std::clamp<qint64>(
            to.line + (found->move == LineUp || found->move == PageUp ? -step : step), 0, last);
        to.column = std::min(to.column, lineEnd(to.line));
        break;
    }
    case LineStart:
        to.column = 0;
        break;
    case LineEnd:
        to.column = lineEnd(to.line);
        break;
    case DocStart:
        to = {};
        break;
    default:
        to = endPosition();
    }
    moveCursor(to, found->select);
    return true;
}

void ActivityLog::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        copy();
    } else if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
    } else if (!moveByKey(event)) {
        event->ignore(); // the log takes no typing
        return;
    }
    event->accept();
}

void ActivityLog::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mousePressEvent(event);
    const Position at = positionAt(event->position().toPoint());
    setSelection((event->modifiers() & Qt::ShiftModifier) ? anchor_ : at, at);
    dragging_ = true;
    dragPoint_ = event->position().toPoint();
}

void ActivityLog::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_)
        return QAbstractScrollArea::mouseMoveEvent(event);
    dragPoint_ = event->position().toPoint();
    setSelection(anchor_, positionAt(dragPoint_));
    // Dragging past the top or bottom edge scrolls on by itself, extending the selection.
    const bool outside = dragPoint_.y() < 0 || dragPoint_.y() >= viewport()->height();
    if (outside && !dragScroll_.isActive())
        dragScroll_.start();
    else if (!outside)
        dragScroll_.stop();
}

void ActivityLog::dragScroll() {
    const qint64 top = topRow() + (dragPoint_.y() < 0 ? -1 : 1);
    followEnd_ = top >= bottomTopRow();
    showFrame();
    if (!followEnd_)
        verticalScrollBar()->setValue(static_cast<int>(std::clamp<qint64>(top, 0, INT_MAX)));
    setSelection(anchor_, positionAt(dragPoint_));
}

void ActivityLog::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mouseReleaseEvent(event);
    dragging_ = false;
    dragScroll_.stop();
    QClipboard* clipboard = QApplication::clipboard();
    if (hasSelection() && clipboard->supportsSelection())
        clipboard->setText(selectedText(), QClipboard::Selection);
}

void ActivityLog::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mouseDoubleClickEvent(event);
    const Position at = positionAt(event->position().toPoint());
    setSelection(wordStart(at, -1), wordStart(at, +1));
    dragging_ = false;
}

void ActivityLog::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* copyAction = menu.addAction(tr("&Copy"), this, &ActivityLog::copy);
    copyAction->setEnabled(hasSelection());
    menu.addAction(tr("Select All"), this, &ActivityLog::selectAll);
    menu.exec(event->globalPos());
}

void ActivityLog::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void ActivityLog::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

} // namespace regbench::app
