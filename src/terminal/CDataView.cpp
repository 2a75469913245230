#include "CDataView.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextBoundaryFinder>
#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>

namespace {

constexpr int kMargin = 2; // pixels left of the first cell

QAccessible::UpdateHandler g_noticeHandler = nullptr;

// Whether anyone hears the view's notices, and handing one over.
bool Heard()
{
    return g_noticeHandler || QAccessible::isActive();
}

void Tell(QAccessibleEvent* pEvent)
{
    if (g_noticeHandler)
        g_noticeHandler(pEvent);
    else
        QAccessible::updateAccessibility(pEvent);
}

// Exposes the shown text. Every query generates only the range it asks for.
class CDataViewAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit CDataViewAccessible(CDataView* pView)
        : QAccessibleWidget(pView, QAccessible::EditableText)
    {
    }

    CDataView* View() const { return static_cast<CDataView*>(widget()); }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        s.multiLine = true;
        s.selectableText = true;
        return s;
    }

    void selection(int selectionIndex, int* startOffset, int* endOffset) const override
    {
        *startOffset = *endOffset = 0;
        if (selectionIndex == 0 && View()->HasSelection())
            View()->GetSelection(*startOffset, *endOffset);
    }
    int selectionCount() const override { return View()->HasSelection() ? 1 : 0; }
    void addSelection(int startOffset, int endOffset) override
    {
        View()->SetSelection(startOffset, endOffset);
    }
    void removeSelection(int selectionIndex) override
    {
        if (selectionIndex == 0)
            View()->ClearSelection();
    }
    void setSelection(int selectionIndex, int startOffset, int endOffset) override
    {
        if (selectionIndex == 0)
            View()->SetSelection(startOffset, endOffset);
    }
    int cursorPosition() const override { return View()->CursorPosition(); }
    void setCursorPosition(int position) override { View()->SetSelection(position, position); }

    QString text(int startOffset, int endOffset) const override
    {
        return View()->Text(startOffset, endOffset);
    }
    int characterCount() const override { return View()->CharacterCount(); }

    QString textAtOffset(int offset, QAccessible::TextBoundaryType type, int* startOffset,
                         int* endOffset) const override
    {
        *startOffset = *endOffset = -1;
        const int count = characterCount();
        if (offset < 0 || offset > count)
            return QString();
        if (type == QAccessible::NoBoundary) {
            *startOffset = 0;
            *endOffset = count;
            return text(0, count);
        }
        if (type == QAccessible::CharBoundary) {
            *startOffset = offset;
            *endOffset = std::min(offset + 1, count);
            return text(*startOffset, *endOffset);
        }
        Range(offset, type, startOffset, endOffset);
        return text(*startOffset, *endOffset);
    }

    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType type, int* startOffset,
                             int* endOffset) const override
    {
        *startOffset = *endOffset = -1;
        if (offset <= 0 || offset > characterCount())
            return QString();
        if (type == QAccessible::CharBoundary)
            return textAtOffset(offset - 1, type, startOffset, endOffset);
        int start, end;
        textAtOffset(offset, type, &start, &end);
        if (start <= 0)
            return QString();
        return textAtOffset(start - 1, type, startOffset, endOffset);
    }

    QString textAfterOffset(int offset, QAccessible::TextBoundaryType type, int* startOffset,
                            int* endOffset) const override
    {
        *startOffset = *endOffset = -1;
        const int count = characterCount();
        if (offset < 0 || offset >= count)
            return QString();
        if (type == QAccessible::CharBoundary)
            return textAtOffset(offset + 1, type, startOffset, endOffset);
        int start, end;
        textAtOffset(offset, type, &start, &end);
        if (end >= count)
            return QString();
        return textAtOffset(end, type, startOffset, endOffset);
    }

    QRect characterRect(int offset) const override
    {
        const QRect r = View()->CharacterRect(offset);
        return QRect(View()->viewport()->mapToGlobal(r.topLeft()), r.size());
    }
    int offsetAtPoint(const QPoint& point) const override
    {
        const QPoint pos = View()->viewport()->mapFromGlobal(point);
        if (!View()->viewport()->rect().contains(pos))
            return -1;
        return View()->OffsetAt(pos);
    }
    void scrollToSubstring(int startIndex, int /*endIndex*/) override
    {
        View()->ScrollToOffset(startIndex);
    }
    QString attributes(int offset, int* startOffset, int* endOffset) const override
    {
        // One uniform run: the view has no text attributes.
        Q_UNUSED(offset);
        *startOffset = 0;
        *endOffset = characterCount();
        return QString();
    }

private:
    // The row (line), the logical line (paragraph) or the word or sentence
    // within the row around an offset.
    void Range(int offset, QAccessible::TextBoundaryType type, int* start, int* end) const
    {
        const CDataLayout& layout = View()->Layout();
        const int count = characterCount();
        const int rowOffset = std::min(offset, std::max(0, count - 1));
        int first = layout.RowOfOffset(rowOffset);
        int last = first;
        if (type == QAccessible::ParagraphBoundary && !layout.IsHex()) {
            while (first > 0 && !layout.RowEndsLine(first - 1))
                --first;
            while (last + 1 < layout.RowCount() && !layout.RowEndsLine(last))
                ++last;
        }
        *start = layout.RowStartOffset(first);
        *end = layout.RowEndOffset(last) + (layout.RowEndsLine(last) ? 1 : 0);
        if (type != QAccessible::WordBoundary && type != QAccessible::SentenceBoundary)
            return;
        const QString line = text(*start, *end);
        QTextBoundaryFinder finder(type == QAccessible::WordBoundary
                                       ? QTextBoundaryFinder::Word
                                       : QTextBoundaryFinder::Sentence,
                                   line);
        finder.setPosition(std::clamp(offset - *start, 0, static_cast<int>(line.size())));
        const int lineStart = *start;
        int from = finder.isAtBoundary() ? finder.position() : finder.toPreviousBoundary();
        int to = finder.toNextBoundary();
        if (from < 0)
            from = 0;
        if (to < 0)
            to = static_cast<int>(line.size());
        if (offset - lineStart >= line.size() && from > 0) {
            // At the very end: the last segment.
            to = from;
            finder.setPosition(from);
            from = std::max(0, static_cast<int>(finder.toPreviousBoundary()));
        }
        *start = lineStart + from;
        *end = lineStart + to;
    }
};

QAccessibleInterface* DataViewAccessibleFactory(const QString& className, QObject* pObject)
{
    if (className == QLatin1String("CDataView") && pObject && pObject->isWidgetType())
        return new CDataViewAccessible(static_cast<CDataView*>(pObject));
    return nullptr;
}

} // namespace

CDataView::CDataView(QWidget* pParent) : QAbstractScrollArea(pParent)
{
    static const bool bFactoryInstalled = [] {
        QAccessible::installFactory(DataViewAccessibleFactory);
        return true;
    }();
    Q_UNUSED(bFactoryInstalled);

    setAccessibleName(tr("Data window"));
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Always there, so that its appearing never changes the width and with
    // it the wrapping.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    viewport()->setCursor(Qt::IBeamCursor);
    setFont(DefaultFont());
    UpdateMetrics();
    m_noticeTimer.setSingleShot(true);
    connect(&m_noticeTimer, &QTimer::timeout, this, &CDataView::TellChanges);
}

CDataView::~CDataView() = default;

QAccessible::UpdateHandler CDataView::SetNoticeHandler(QAccessible::UpdateHandler handler)
{
    return std::exchange(g_noticeHandler, handler);
}

QFont CDataView::DefaultFont()
{
    QFont font;
    if (QFontDatabase::families().contains(QStringLiteral("Terminal")))
        font = QFont(QStringLiteral("Terminal"));
    else
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(13);
    return font;
}

void CDataView::SetBuffer(const QByteArray& buffer, qint64 streamStart, bool bHex)
{
    // Assistive technology hears how much left the front and what was added,
    // in bounded notices (TellChanges).
    const bool bAccessible = Heard();
    const qint64 oldEnd = m_layout.TextOrigin() + m_layout.CharacterCount();
    qint64 nRemoved = 0;
    if (bAccessible) {
        if (!m_layout.Continues(buffer, streamStart, bHex))
            nRemoved = m_layout.CharacterCount();
        else if (streamStart > m_layout.StreamStart())
            nRemoved = m_layout.OffsetOfPosition(streamStart);
    }

    const bool bFresh = m_layout.SetBuffer(buffer, streamStart, bHex) == CDataLayout::Update::Fresh;
    if (bFresh)
        m_selAnchor = m_selActive = -1;
    UpdateScrollBar();
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    viewport()->update();

    if (bAccessible) {
        const int count = m_layout.CharacterCount();
        const qint64 kept = bFresh ? 0 : std::max<qint64>(0, oldEnd - m_layout.TextOrigin());
        m_notices.Changed(nRemoved, count - kept, count);
    }
    TellChanges();
}

void CDataView::Clear()
{
    if (Heard())
        m_notices.Changed(m_layout.CharacterCount(), 0, 0);
    m_layout.Clear();
    m_selAnchor = m_selActive = -1;
    m_bSelecting = false;
    UpdateScrollBar();
    verticalScrollBar()->setValue(0);
    viewport()->update();
    TellChanges();
}

void CDataView::TellChanges()
{
    if (!Heard()) {
        m_notices.Reset();
        m_noticeTimer.stop();
        return;
    }
    CTextChangeThrottle::SNotice notice;
    if (!m_notices.Take(notice)) {
        const qint64 nWait = m_notices.MsUntilDue();
        if (nWait >= 0 && !m_noticeTimer.isActive())
            m_noticeTimer.start(static_cast<int>(nWait));
        return;
    }
    m_noticeTimer.stop();
    // Without its text: Qt's AT-SPI bridge then sends no deletion signal (its
    // length would be taken from the text), other bridges a text change,
    // which carries no text there anyway. The insertion and the caret that
    // follow tell where the text now ends.
    if (notice.nRemoved > 0) {
        QAccessibleTextRemoveEvent event(this, 0, QString());
        Tell(&event);
    }
    if (notice.HasInsert()) {
        const int lastRow = m_layout.RowOfOffset(notice.nCount - 1);
        const int from = std::max(notice.nInsertFrom,
                                  m_layout.RowStartOffset(std::max(0, lastRow - kNoticeRows + 1)));
        QAccessibleTextInsertEvent event(this, from, m_layout.Text(from, notice.nCount));
        Tell(&event);
    }
    QAccessibleTextCursorEvent event(this, CursorPosition());
    Tell(&event);
}

int CDataView::TopRow() const
{
    return verticalScrollBar()->value();
}

int CDataView::VisibleRowCount() const
{
    return std::max(1, viewport()->height() / m_nRowHeight);
}

QStringList CDataView::VisibleRows() const
{
    QStringList rows;
    const int last = std::min(TotalRows(), TopRow() + VisibleRowCount());
    for (int row = TopRow(); row < last; ++row)
        rows.append(m_layout.RowText(row));
    return rows;
}

bool CDataView::HasSelection() const
{
    int start, end;
    GetSelection(start, end);
    return start < end;
}

void CDataView::GetSelection(int& start, int& end) const
{
    start = end = 0;
    if (m_selAnchor < 0)
        return;
    const qint64 origin = m_layout.TextOrigin();
    const qint64 count = m_layout.CharacterCount();
    const qint64 a = std::clamp<qint64>(m_selAnchor - origin, 0, count);
    const qint64 b = std::clamp<qint64>(m_selActive - origin, 0, count);
    start = static_cast<int>(std::min(a, b));
    end = static_cast<int>(std::max(a, b));
}

void CDataView::SetSelection(int start, int end)
{
    const int count = m_layout.CharacterCount();
    m_selAnchor = m_layout.TextOrigin() + std::clamp(start, 0, count);
    m_selActive = m_layout.TextOrigin() + std::clamp(end, 0, count);
    viewport()->update();
    NotifySelection();
}

void CDataView::ClearSelection()
{
    if (m_selAnchor < 0)
        return;
    m_selAnchor = m_selActive = -1;
    viewport()->update();
    NotifySelection();
}

QString CDataView::SelectedText() const
{
    int start, end;
    GetSelection(start, end);
    return m_layout.Text(start, end);
}

void CDataView::SelectAll()
{
    SetSelection(0, m_layout.CharacterCount());
}

void CDataView::Copy()
{
    const QString text = SelectedText();
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
}

int CDataView::CursorPosition() const
{
    const int count = m_layout.CharacterCount();
    if (m_selActive < 0)
        return count;
    return static_cast<int>(std::clamp<qint64>(m_selActive - m_layout.TextOrigin(), 0, count));
}

void CDataView::NotifySelection()
{
    if (!Heard())
        return;
    int start, end;
    GetSelection(start, end);
    QAccessibleTextSelectionEvent selection(this, start, end);
    selection.setCursorPosition(CursorPosition());
    Tell(&selection);
}

qreal CDataView::CellX(int cell) const
{
    return kMargin + cell * m_cellWidth;
}

QRect CDataView::CharacterRect(int offset) const
{
    offset = std::clamp(offset, 0, m_layout.CharacterCount());
    const int row = m_layout.RowOfOffset(offset);
    CDataLayout::Cells cells;
    m_layout.RowCells(row, cells);
    const auto first = std::lower_bound(cells.offset.begin(), cells.offset.end(), offset);
    const auto last = std::upper_bound(first, cells.offset.end(), offset);
    const int cell = static_cast<int>(first - cells.offset.begin());
    const int width = std::max(1, static_cast<int>(last - first));
    const int y = (row - TopRow()) * m_nRowHeight;
    const int x = static_cast<int>(std::floor(CellX(cell)));
    return QRect(x, y, static_cast<int>(std::ceil(CellX(cell + width))) - x, m_nRowHeight);
}

int CDataView::OffsetAt(const QPoint& viewportPos) const
{
    const int y = viewportPos.y();
    const int row = TopRow() + (y >= 0 ? y / m_nRowHeight : (y - m_nRowHeight + 1) / m_nRowHeight);
    if (row < 0)
        return 0;
    if (row >= TotalRows())
        return m_layout.CharacterCount();
    const int cell = static_cast<int>(std::lround((viewportPos.x() - kMargin) / m_cellWidth));
    return m_layout.OffsetAtCell(row, std::max(0, cell));
}

void CDataView::ScrollToOffset(int offset)
{
    const int row = m_layout.RowOfOffset(offset);
    if (row < TopRow())
        verticalScrollBar()->setValue(row);
    else if (row >= TopRow() + VisibleRowCount())
        verticalScrollBar()->setValue(row - VisibleRowCount() + 1);
}

QMenu* CDataView::CreateContextMenu(QWidget* pParent)
{
    auto* pMenu = new QMenu(pParent);
    QAction* pCopy = pMenu->addAction(tr("Copy"), this, &CDataView::Copy);
    pCopy->setEnabled(HasSelection());
    pMenu->addAction(tr("Select All"), this, &CDataView::SelectAll);
    return pMenu;
}

void CDataView::UpdateMetrics()
{
    QFont cellFont = font();
    cellFont.setKerning(false);
    const QFontMetricsF metricsF(cellFont);
    const QFontMetrics metrics(cellFont);
    m_cellWidth = std::max<qreal>(1, metricsF.horizontalAdvance(QLatin1Char('M')));
    m_nRowHeight = std::max(1, metrics.lineSpacing());
    m_nAscent = metrics.ascent();
    m_rawFont = QRawFont::fromFont(cellFont);
    m_glyphs.clear();
    verticalScrollBar()->setSingleStep(1);
    UpdateColumns();
}

// Relays out for the width, keeping the first character of the top row at
// the top, so that a resize (also while the owner pauses) shows the same
// place.
void CDataView::UpdateColumns()
{
    const int nColumns =
        std::max(1, static_cast<int>((viewport()->width() - 2 * kMargin) / m_cellWidth));
    if (nColumns != m_layout.Columns()) {
        const int top = m_layout.RowStartOffset(std::min(TopRow(), TotalRows() - 1));
        m_layout.SetColumns(nColumns);
        UpdateScrollBar();
        verticalScrollBar()->setValue(m_layout.RowOfOffset(top));
    } else {
        UpdateScrollBar();
    }
    viewport()->update();
}

void CDataView::UpdateScrollBar()
{
    const int visible = VisibleRowCount();
    QScrollBar* pBar = verticalScrollBar();
    pBar->setRange(0, std::max(0, TotalRows() - visible));
    pBar->setPageStep(visible);
}

void CDataView::resizeEvent(QResizeEvent* pEvent)
{
    QAbstractScrollArea::resizeEvent(pEvent);
    UpdateColumns();
}

void CDataView::changeEvent(QEvent* pEvent)
{
    QAbstractScrollArea::changeEvent(pEvent);
    if (pEvent->type() == QEvent::FontChange)
        UpdateMetrics();
}

void CDataView::scrollContentsBy(int /*dx*/, int /*dy*/)
{
    viewport()->update();
}

void CDataView::paintEvent(QPaintEvent* pEvent)
{
    QPainter painter(viewport());
    QFont cellFont = font();
    cellFont.setKerning(false);
    painter.setFont(cellFont);
    const int top = TopRow();
    const QRect area = pEvent->rect();
    const int first = top + std::max(0, area.top()) / m_nRowHeight;
    const int last = std::min(TotalRows() - 1, top + area.bottom() / m_nRowHeight);
    int selStart, selEnd;
    GetSelection(selStart, selEnd);
    CDataLayout::Cells cells;
    for (int row = first; row <= last; ++row) {
        m_layout.RowCells(row, cells);
        PaintRow(painter, cells, (row - top) * m_nRowHeight, selStart, selEnd);
    }
}

void CDataView::PaintRow(QPainter& painter, const CDataLayout::Cells& cells, int y, int selStart,
                         int selEnd) const
{
    const int n = static_cast<int>(cells.text.size());
    // Selected cells [a, b); the line end counts as one more cell.
    int a = n, b = n;
    if (selStart < selEnd) {
        a = static_cast<int>(std::lower_bound(cells.offset.begin(), cells.offset.end(), selStart) -
                             cells.offset.begin());
        b = static_cast<int>(std::lower_bound(cells.offset.begin(), cells.offset.end(), selEnd) -
                             cells.offset.begin());
    }
    const bool bLineEndSelected = cells.bLineEnd && selStart <= cells.end && cells.end < selEnd;
    const QPalette& pal = palette();
    if (a < b || bLineEndSelected) {
        const int endCell = b + (bLineEndSelected ? 1 : 0);
        painter.fillRect(QRectF(CellX(a), y, CellX(endCell) - CellX(a), m_nRowHeight),
                         pal.color(QPalette::Highlight));
    }
    painter.setPen(pal.color(QPalette::Text));
    DrawCells(painter, cells.text, 0, a, y);
    DrawCells(painter, cells.text, b, n, y);
    if (a < b) {
        painter.setPen(pal.color(QPalette::HighlightedText));
        DrawCells(painter, cells.text, a, b, y);
    }
}

quint32 CDataView::Glyph(QChar ch) const
{
    auto it = m_glyphs.constFind(ch.unicode());
    if (it != m_glyphs.constEnd())
        return *it;
    const QList<quint32> glyphs =
        m_rawFont.isValid() ? m_rawFont.glyphIndexesForString(QString(ch)) : QList<quint32>();
    const quint32 glyph = glyphs.size() == 1 ? glyphs[0] : 0;
    m_glyphs.insert(ch.unicode(), glyph);
    return glyph;
}

// Every glyph goes into its own cell, so the grid stays exact whatever the
// font's advances; blanks are not drawn.
void CDataView::DrawCells(QPainter& painter, const QString& text, int from, int to, int y) const
{
    const qreal baseline = y + m_nAscent;
    QVector<quint32> glyphs;
    QVector<QPointF> positions;
    glyphs.reserve(to - from);
    positions.reserve(to - from);
    for (int i = from; i < to; ++i) {
        const QChar ch = text[i];
        if (ch.isSpace())
            continue;
        const quint32 glyph = Glyph(ch);
        if (glyph == 0) // not in this font: let a fallback font draw it
            painter.drawText(QPointF(CellX(i), baseline), QString(ch));
        else {
            glyphs.append(glyph);
            positions.append(QPointF(CellX(i), 0));
        }
    }
    if (glyphs.isEmpty())
        return;
    QGlyphRun run;
    run.setRawFont(m_rawFont);
    run.setGlyphIndexes(glyphs);
    run.setPositions(positions);
    painter.drawGlyphRun(QPointF(0, baseline), run);
}

void CDataView::mousePressEvent(QMouseEvent* pEvent)
{
    if (pEvent->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(pEvent);
        return;
    }
    const qint64 pos = m_layout.TextOrigin() + OffsetAt(pEvent->position().toPoint());
    if (pEvent->modifiers() & Qt::ShiftModifier) {
        // Extends from the anchor, or from the caret at the end.
        if (m_selAnchor < 0)
            m_selAnchor = m_layout.TextOrigin() + m_layout.CharacterCount();
    } else {
        m_selAnchor = pos;
    }
    m_selActive = pos;
    m_bSelecting = true;
    viewport()->update();
    NotifySelection();
}

void CDataView::mouseMoveEvent(QMouseEvent* pEvent)
{
    if (!m_bSelecting || !(pEvent->buttons() & Qt::LeftButton)) {
        QAbstractScrollArea::mouseMoveEvent(pEvent);
        return;
    }
    const QPoint pos = pEvent->position().toPoint();
    // Dragging past an edge reads on in that direction.
    if (pos.y() < 0)
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else if (pos.y() >= viewport()->height())
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    const qint64 active = m_layout.TextOrigin() + OffsetAt(pos);
    if (active != m_selActive) {
        m_selActive = active;
        viewport()->update();
        NotifySelection();
    }
}

void CDataView::mouseReleaseEvent(QMouseEvent* pEvent)
{
    if (pEvent->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseReleaseEvent(pEvent);
        return;
    }
    m_bSelecting = false;
}

void CDataView::contextMenuEvent(QContextMenuEvent* pEvent)
{
    std::unique_ptr<QMenu> pMenu(CreateContextMenu(this));
    pMenu->exec(pEvent->globalPos());
}
