// The data window's painting: whole cells, glyph by glyph from the font's own
// table. User-interface thread.

#include "CDataView.h"

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
    m_glyphs.clear();
    verticalScrollBar()->setSingleStep(1);
    UpdateColumns();
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
    const std::vector<Mark> marks = VisibleMarks(first, last);
    CDataLayout::Cells cells;
    for (int row = first; row <= last; ++row) {
        m_layout.RowCells(row, cells);
        PaintRow(painter, cells, (row - top) * m_nRowHeight, selStart, selEnd, marks);
    }
}

std::vector<CDataView::Mark> CDataView::VisibleMarks(int firstRow, int lastRow) const
{
    std::vector<Mark> marks;
    if (m_highlights.empty() || firstRow > lastRow)
        return marks;
    // Only the matches that can touch the rows in sight.
    const qint64 from = m_layout.PositionOfOffset(m_layout.RowStartOffset(firstRow)) -
                        m_nHighlightLength;
    const qint64 to = m_layout.PositionOfOffset(m_layout.RowEndOffset(lastRow) + 1, true);
    auto it = std::lower_bound(m_highlights.begin(), m_highlights.end(), from);
    for (; it != m_highlights.end() && *it < to; ++it) {
        marks.push_back(Mark{m_layout.OffsetOfPosition(*it),
                             m_layout.OffsetOfPosition(*it + m_nHighlightLength),
                             int(it - m_highlights.begin()) == m_nHighlightCurrent});
    }
    return marks;
}

void CDataView::PaintRow(QPainter& painter, const CDataLayout::Cells& cells, int y, int selStart,
                         int selEnd, const std::vector<Mark>& marks) const
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
