// The data window's painting: whole cells, glyph by glyph from a table made
// once per font, and only what changed. After every change of what the view
// shows, ShowChanges asks CDirtyRows what to do: the pixels already drawn move
// with a scroll of the viewport, and only the rows that changed are painted
// again (a row that grew, from its old end on). Everything a row's pixels
// come from is in its key (RowKey) and is drawn in one place (PaintRow).
// User-interface thread.

#include "CDataView.h"
#include "CDataViewGutter.h"
#include "Cp437.h"

#include <QFontMetrics>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <cmath>

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
    // Every glyph the view can show (hex groups are code page 437 too).
    m_glyphs.clear();
    m_fallbackGlyphs.clear();
    for (int byte = 0; byte < 256; ++byte)
        Glyph(CCp437::ToUnicode(static_cast<unsigned char>(byte)));
    m_dirty.Invalidate();
    verticalScrollBar()->setSingleStep(1);
    UpdateColumns();
}

int CDataView::LineCount() const
{
    return std::max(1, (viewport()->height() + m_nRowHeight - 1) / m_nRowHeight);
}

CDirtyRows::SKey CDataView::RowKey(int row, int selStart, int selEnd,
                                   const std::vector<Mark>& marks) const
{
    CDirtyRows::SKey key;
    const int start = m_layout.RowStartOffset(row);
    key.nFirst = m_layout.TextOrigin() + start;
    key.nChars = m_layout.RowEndOffset(row) - start;
    key.bLineEnd = m_layout.RowEndsLine(row);
    const int last = key.nChars + (key.bLineEnd ? 1 : 0);
    key.nSelFrom = std::clamp(selStart - start, 0, last);
    key.nSelTo = std::clamp(selEnd - start, 0, last);
    if (key.nSelFrom >= key.nSelTo)
        key.nSelFrom = key.nSelTo = 0;
    // As PaintRow takes them: a match that goes on past the row's end fills
    // one more cell.
    const int end = start + key.nChars;
    for (const Mark& m : marks) {
        if (m.nEnd > start && m.nStart <= end)
            key.marks.push_back({std::max(0, m.nStart - start),
                                 std::min(m.nEnd - start, key.nChars + 1), m.bCurrent});
    }
    // What the column at the left shows for the row, only while it is shown.
    if (m_pGutter && m_pGutter->Width() > 0) {
        CDataLayout::Cells cells;
        m_layout.RowCells(row, cells);
        key.strGutter = m_pGutter->RowKey(cells);
    }
    return key;
}

void CDataView::ShowChanges()
{
    const int top = TopRow();
    const int total = TotalRows();
    int selStart, selEnd;
    GetSelection(selStart, selEnd);
    std::vector<CDirtyRows::SKey> lines(static_cast<size_t>(LineCount()));
    const int shown = std::min(static_cast<int>(lines.size()), total - top);
    const std::vector<Mark> marks = VisibleMarks(top, top + shown - 1);
    for (int i = 0; i < shown; ++i)
        lines[static_cast<size_t>(i)] = RowKey(top + i, selStart, selEnd, marks);
    const CDirtyRows::SPlan plan = m_dirty.Plan(lines);

    QWidget* pViewport = viewport();
    // Moves the pixels and with them any paint still pending; Qt paints what
    // the move uncovers.
    if (plan.nScroll != 0)
        pViewport->scroll(0, -plan.nScroll * m_nRowHeight);
    CDataLayout::Cells cells;
    for (const CDirtyRows::SPaint& paint : plan.paint) {
        int x = 0;
        if (paint.nFromChar > 0) {
            m_layout.RowCells(top + paint.nLine, cells);
            const int cell =
                static_cast<int>(std::lower_bound(cells.offset.begin(), cells.offset.end(),
                                                  cells.start + paint.nFromChar) -
                                 cells.offset.begin());
            x = static_cast<int>(std::floor(CellX(cell)));
        }
        pViewport->update(
            QRect(x, paint.nLine * m_nRowHeight, pViewport->width() - x, m_nRowHeight));
    }
}

void CDataView::paintEvent(QPaintEvent* pEvent)
{
    QPainter painter(viewport());
    const int top = TopRow();
    const int total = TotalRows();
    int selStart, selEnd;
    GetSelection(selStart, selEnd);
    CDataLayout::Cells cells;
    // Each part of the region on its own, so that no pixel is drawn twice
    // (twice over, the edges of a glyph would darken).
    for (const QRect& area : pEvent->region()) {
        painter.setClipRect(area);
        const int first = top + std::max(0, area.top()) / m_nRowHeight;
        const int last = std::min(total - 1, top + area.bottom() / m_nRowHeight);
        const std::vector<Mark> marks = VisibleMarks(first, last);
        // The cells the area touches, and one more each side for a glyph
        // that reaches into its neighbour.
        const int fromCell =
            std::max(0, static_cast<int>((area.left() - TextLeft()) / m_cellWidth) - 1);
        const int toCell = static_cast<int>((area.right() + 1 - TextLeft()) / m_cellWidth) + 2;
        for (int row = first; row <= last; ++row) {
            m_layout.RowCells(row, cells);
            PaintRow(painter, cells, (row - top) * m_nRowHeight, fromCell, toCell, selStart, selEnd,
                     marks);
        }
    }
}

std::vector<CDataView::Mark> CDataView::VisibleMarks(int firstRow, int lastRow) const
{
    std::vector<Mark> marks;
    if (m_highlights.empty() || firstRow > lastRow)
        return marks;
    // Only the matches that can touch the rows in sight.
    const qint64 from =
        m_layout.PositionOfOffset(m_layout.RowStartOffset(firstRow)) - m_nHighlightLength;
    const qint64 to = m_layout.PositionOfOffset(m_layout.RowEndOffset(lastRow) + 1, true);
    auto it = std::lower_bound(m_highlights.begin(), m_highlights.end(), from);
    for (; it != m_highlights.end() && *it < to; ++it) {
        marks.push_back(Mark{m_layout.OffsetOfPosition(*it),
                             m_layout.OffsetOfPosition(*it + m_nHighlightLength),
                             int(it - m_highlights.begin()) == m_nHighlightCurrent});
    }
    return marks;
}

// A row's cells [fromCell, toCell): find's matches and the selection's
// background, the glyphs in the text colour and the selected ones in the
// highlighted-text colour. Whatever is added here must be added to RowKey as
// well.
void CDataView::PaintRow(QPainter& painter, const CDataLayout::Cells& cells, int y, int fromCell,
                         int toCell, int selStart, int selEnd, const std::vector<Mark>& marks) const
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
    // Find's matches under the text: the current one stronger.
    for (const Mark& m : marks) {
        if (m.nEnd <= cells.start || m.nStart > cells.end)
            continue;
        const auto cellOf = [&](int offset) {
            return static_cast<int>(
                std::lower_bound(cells.offset.begin(), cells.offset.end(), offset) -
                cells.offset.begin());
        };
        const int c0 = cellOf(m.nStart);
        const int c1 = std::max(cellOf(m.nEnd), c0 + (m.nEnd > cells.end ? 1 : 0));
        painter.fillRect(QRectF(CellX(c0), y, CellX(c1) - CellX(c0), m_nRowHeight),
                         m.bCurrent ? QColor(255, 150, 50) : QColor(255, 235, 120));
    }
    if (a < b || bLineEndSelected) {
        const int endCell = b + (bLineEndSelected ? 1 : 0);
        painter.fillRect(QRectF(CellX(a), y, CellX(endCell) - CellX(a), m_nRowHeight),
                         pal.color(QPalette::Highlight));
    }
    const int from = std::clamp(fromCell, 0, n);
    const int to = std::clamp(toCell, from, n);
    const QColor text = pal.color(QPalette::Text);
    DrawCells(painter, cells.text, from, std::min(a, to), y, text);
    DrawCells(painter, cells.text, std::max(b, from), to, y, text);
    if (a < b)
        DrawCells(painter, cells.text, std::max(a, from), std::min(b, to), y,
                  pal.color(QPalette::HighlightedText));
    // The column at the left (arrival times), and what it marks on the row;
    // RowKey holds what it shows (SKey::strGutter).
    if (m_pGutter)
        m_pGutter->PaintRow(painter, cells, QRect(0, y, viewport()->width(), m_nRowHeight));
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

// A character the cell font lacks, drawn once per font and colour by a
// fallback font into a cell of its own.
const QImage& CDataView::FallbackGlyph(QChar ch, const QColor& colour) const
{
    const quint64 key = (quint64(ch.unicode()) << 32) | colour.rgba();
    auto it = m_fallbackGlyphs.constFind(key);
    if (it != m_fallbackGlyphs.constEnd())
        return *it;
    const qreal dpr = devicePixelRatioF();
    QImage image(QSize(static_cast<int>(std::ceil(m_cellWidth * 2 * dpr)),
                       static_cast<int>(std::ceil(m_nRowHeight * dpr))),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        QFont cellFont = font();
        cellFont.setKerning(false);
        painter.setFont(cellFont);
        painter.setPen(colour);
        painter.drawText(QPointF(0, m_nAscent), QString(ch));
    }
    return *m_fallbackGlyphs.insert(key, image);
}

// Every glyph goes into its own cell, so the grid stays exact whatever the
// font's advances; blanks are not drawn.
void CDataView::DrawCells(QPainter& painter, const QString& text, int from, int to, int y,
                          const QColor& colour) const
{
    if (from >= to)
        return;
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
        if (glyph == 0) { // not in this font
            painter.drawImage(QPointF(CellX(i), y), FallbackGlyph(ch, colour));
        } else {
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
    painter.setPen(colour);
    painter.drawGlyphRun(QPointF(0, baseline), run);
}
