#include "CDataView.h"

#include "CDataScrollBar.h"
#include "CDataViewAccessible.h"
#include "CDataViewGutter.h"

#include <QFontDatabase>
#include <QScrollBar>
#include <algorithm>

CDataView::CDataView(QWidget* pParent) : QAbstractScrollArea(pParent)
{
    DataViewAccess::InstallFactory();

    setAccessibleName(tr("Data window"));
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBar(new CDataScrollBar(this));
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
    const bool bContinues = m_layout.Continues(buffer, streamStart, bHex);
    Lay(bContinues, streamStart, [&] {
        return m_layout.SetBuffer(buffer, streamStart, bHex) == CDataLayout::Update::Fresh;
    });
}

void CDataView::Show(const CReceiveSnapshot& snapshot)
{
    const bool bContinues = m_layout.Continues(snapshot);
    Lay(bContinues, snapshot.nStart,
        [&] { return m_layout.SetSnapshot(snapshot) == CDataLayout::Update::Fresh; });
}

template <typename LayOut> void CDataView::Lay(bool bContinues, qint64 streamStart, LayOut layOut)
{
    // Assistive technology hears how much left the front and what was added,
    // in bounded notices (TellChanges).
    const bool bAccessible = DataViewAccess::IsListening();
    const qint64 oldEnd = m_layout.TextOrigin() + m_layout.CharacterCount();
    qint64 nRemoved = 0;
    if (bAccessible) {
        if (!bContinues)
            nRemoved = m_layout.CharacterCount();
        else if (streamStart > m_layout.StreamStart())
            nRemoved = m_layout.OffsetOfPosition(streamStart);
    }

    const bool bFresh = layOut();
    if (bFresh) {
        m_selAnchor = m_selActive = -1;
        m_dirty.Invalidate(); // text positions start anew
    }
    UpdateScrollBar();
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    ShowChanges();

    if (bAccessible) {
        const int count = m_layout.CharacterCount();
        const qint64 kept = bFresh ? 0 : std::max<qint64>(0, oldEnd - m_layout.TextOrigin());
        m_notices.Changed(nRemoved, count - kept, count);
    }
    TellChanges();
    Q_EMIT BufferChanged(bFresh);
}

void CDataView::Clear()
{
    if (DataViewAccess::IsListening())
        m_notices.Changed(m_layout.CharacterCount(), 0, 0);
    m_layout.Clear();
    m_selAnchor = m_selActive = -1;
    m_bSelecting = false;
    m_dirty.Invalidate();
    UpdateScrollBar();
    verticalScrollBar()->setValue(0);
    ShowChanges();
    TellChanges();
    Q_EMIT BufferChanged(true);
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

// Relays out for the width, keeping the first character of the top row at
// the top, so that a resize (also while the owner pauses) shows the same
// place.
void CDataView::UpdateColumns()
{
    const int nColumns =
        std::max(1, static_cast<int>((viewport()->width() - kMargin - TextLeft()) / m_cellWidth));
    if (nColumns != m_layout.Columns()) {
        const int top = m_layout.RowStartOffset(std::min(TopRow(), TotalRows() - 1));
        m_layout.SetColumns(nColumns);
        m_dirty.Invalidate();
        UpdateScrollBar();
        verticalScrollBar()->setValue(m_layout.RowOfOffset(top));
    } else {
        UpdateScrollBar();
    }
    ShowChanges();
}

void CDataView::UpdateScrollBar()
{
    const int visible = VisibleRowCount();
    QScrollBar* pBar = verticalScrollBar();
    pBar->setRange(0, std::max(0, TotalRows() - visible));
    pBar->setPageStep(visible);
}

int CDataView::TextLeft() const
{
    return kMargin + (m_pGutter ? m_pGutter->Width() : 0);
}

void CDataView::SetGutter(const CDataViewGutter* pGutter)
{
    m_pGutter = pGutter;
    GutterChanged();
}

void CDataView::GutterChanged()
{
    // Every row moves sideways: all are painted again.
    m_dirty.Invalidate();
    UpdateColumns();
}

void CDataView::resizeEvent(QResizeEvent* pEvent)
{
    QAbstractScrollArea::resizeEvent(pEvent);
    UpdateColumns();
}

void CDataView::changeEvent(QEvent* pEvent)
{
    QAbstractScrollArea::changeEvent(pEvent);
    if (pEvent->type() == QEvent::FontChange) {
        UpdateMetrics();
    } else if (pEvent->type() == QEvent::PaletteChange || pEvent->type() == QEvent::StyleChange) {
        m_fallbackGlyphs.clear();
        m_dirty.Invalidate();
        ShowChanges();
    }
}

void CDataView::scrollContentsBy(int /*dx*/, int /*dy*/)
{
    ShowChanges();
}
