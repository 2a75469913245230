// The data window's selection, mouse and context menu. User-interface thread.

#include "CDataView.h"
#include "CDataViewAccessible.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <algorithm>
#include <cmath>
#include <memory>

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
    ShowChanges();
    NotifySelection();
}

void CDataView::ClearSelection()
{
    if (m_selAnchor < 0)
        return;
    m_selAnchor = m_selActive = -1;
    ShowChanges();
    NotifySelection();
}

QString CDataView::SelectedText() const
{
    int start, end;
    GetSelection(start, end);
    return m_layout.Text(start, end);
}

QByteArray CDataView::SelectedBytes() const
{
    int start, end;
    GetSelection(start, end);
    if (start == end)
        return QByteArray();
    const qint64 from = m_layout.PositionOfOffset(start);
    const qint64 to = m_layout.PositionOfOffset(end, true);
    return m_layout.Bytes()
        .sliced(qsizetype(from - m_layout.StreamStart()), qsizetype(to - from))
        .toByteArray();
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

qreal CDataView::CellX(int cell) const
{
    return TextLeft() + cell * m_cellWidth;
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
    const int cell = static_cast<int>(std::lround((viewportPos.x() - TextLeft()) / m_cellWidth));
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

void CDataView::SetHighlights(const std::vector<qint64>& positions, qsizetype nLength, int nCurrent,
                              bool bScroll)
{
    m_highlights = positions;
    m_nHighlightLength = nLength;
    m_nHighlightCurrent = nCurrent;
    if (bScroll && nCurrent >= 0 && size_t(nCurrent) < positions.size())
        ScrollToOffset(m_layout.OffsetOfPosition(positions[size_t(nCurrent)]));
    ShowChanges();
}

QMenu* CDataView::CreateContextMenu(QWidget* pParent)
{
    auto* pMenu = new QMenu(pParent);
    QAction* pCopy = pMenu->addAction(tr("Copy"), this, &CDataView::Copy);
    pCopy->setEnabled(HasSelection());
    pMenu->addAction(tr("Select All"), this, &CDataView::SelectAll);
    Q_EMIT ContextMenuOpening(pMenu);
    return pMenu;
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
    ShowChanges();
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
        ShowChanges();
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

void CDataView::keyPressEvent(QKeyEvent* pEvent)
{
    const bool bMenuKey =
        pEvent->key() == Qt::Key_Menu ||
        (pEvent->key() == Qt::Key_F10 && pEvent->modifiers() == Qt::ShiftModifier);
    if (!bMenuKey) {
        QAbstractScrollArea::keyPressEvent(pEvent);
        return;
    }
    // At the caret when it is in sight, else at the view's top left.
    QPoint at = CharacterRect(CursorPosition()).bottomLeft();
    if (!viewport()->rect().contains(at))
        at = QPoint(0, 0);
    QContextMenuEvent event(QContextMenuEvent::Keyboard, at, viewport()->mapToGlobal(at));
    contextMenuEvent(&event);
}

void CDataView::contextMenuEvent(QContextMenuEvent* pEvent)
{
    std::unique_ptr<QMenu> pMenu(CreateContextMenu(this));
    pMenu->exec(pEvent->globalPos());
}
