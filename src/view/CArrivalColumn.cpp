#include "CArrivalColumn.h"

#include "CDataView.h"
#include "CReceiveBuffer.h"

#include <QDateTime>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QMenu>
#include <QPainter>
#include <QToolTip>
#include <limits>

namespace {

constexpr int kGap = 4; // pixels between the column and the text

} // namespace

CArrivalColumn::CArrivalColumn(CDataView* pView, const CReceiveBuffer& times)
    : QObject(pView), m_pView(pView), m_times(times)
{
    m_pView->SetGutter(this);
    m_pView->viewport()->installEventFilter(this);
    connect(m_pView, &CDataView::ContextMenuOpening, this, &CArrivalColumn::AddToMenu);
}

qint64 CArrivalColumn::WallAt(qint64 nPos) const
{
    return m_times.WallAt(nPos);
}

void CArrivalColumn::EventAdded()
{
    if (m_bShown)
        m_pView->GutterRowsChanged();
}

void CArrivalColumn::SetShown(bool bShown)
{
    if (bShown == m_bShown)
        return;
    m_bShown = bShown;
    m_pView->GutterChanged();
}

void CArrivalColumn::AddToMenu(QMenu* pMenu)
{
    pMenu->addSeparator();
    QAction* pShow = pMenu->addAction(tr("Show Arrival Times"));
    pShow->setCheckable(true);
    pShow->setChecked(m_bShown);
    connect(pShow, &QAction::toggled, this, &CArrivalColumn::SetShown);
}

QString CArrivalColumn::FormatTime(qint64 nWallUs, bool bMicro)
{
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(nWallUs / 1000);
    QString text = t.toString(QStringLiteral("HH:mm:ss"));
    const qint64 nFraction = ((nWallUs % 1000000) + 1000000) % 1000000;
    return bMicro ? text + QStringLiteral(".%1").arg(nFraction, 6, 10, QLatin1Char('0'))
                  : text + QStringLiteral(".%1").arg(nFraction / 1000, 3, 10, QLatin1Char('0'));
}

void CArrivalColumn::RowSpan(const CDataLayout::Cells& cells, qint64* pBegin, qint64* pEnd) const
{
    const CDataLayout& layout = m_pView->Layout();
    *pBegin = layout.PositionOfOffset(cells.start);
    *pEnd = layout.PositionOfOffset(cells.end + (cells.bLineEnd ? 1 : 0));
}

QString CArrivalColumn::TimeText(const CDataLayout::Cells& cells) const
{
    qint64 nBegin, nEnd;
    RowSpan(cells, &nBegin, &nEnd);
    const qint64 nWall = nBegin < nEnd ? m_times.WallAt(nBegin) : CArrivalTimes::kNoTime;
    return nWall == CArrivalTimes::kNoTime ? QString() : FormatTime(nWall, false);
}

QStringList CArrivalColumn::EventTexts(const CDataLayout::Cells& cells, bool bAbove) const
{
    const CDataLayout& layout = m_pView->Layout();
    qint64 nBegin, nEnd;
    RowSpan(cells, &nBegin, &nEnd);
    constexpr qint64 kNone = std::numeric_limits<qint64>::min();
    constexpr qint64 kAll = std::numeric_limits<qint64>::max();
    // Between this row and the next; the last row also takes what came after
    // it, the first what came before its first byte.
    qint64 nAfter = kAll, nUpTo = kAll;
    if (bAbove) {
        if (nBegin <= layout.StreamStart() && nBegin < nEnd) {
            nAfter = kNone;
            nUpTo = nBegin;
        }
    } else if (nBegin == nEnd && nBegin == layout.StreamStart()) {
        nAfter = kNone;
    } else {
        nAfter = nBegin;
        nUpTo = nEnd >= layout.StreamEnd() ? kAll : nEnd;
    }
    QStringList texts;
    if (nAfter == kAll)
        return texts;
    for (const CArrivalTimes::Event& e : m_times.EventsIn(nAfter, nUpTo))
        texts.append(FormatTime(e.nWallUs, false) + QLatin1Char(' ') + e.strText);
    return texts;
}

int CArrivalColumn::Width() const
{
    if (!m_bShown)
        return 0;
    return QFontMetrics(m_pView->font()).horizontalAdvance(QStringLiteral("00:00:00.000")) + kGap;
}

void CArrivalColumn::PaintRow(QPainter& painter, const CDataLayout::Cells& cells,
                              const QRect& row) const
{
    if (!m_bShown)
        return;
    const QPalette& pal = m_pView->palette();
    const QFontMetrics metrics(painter.font());
    const QString time = TimeText(cells);
    painter.save();
    if (!time.isEmpty()) {
        painter.setPen(pal.color(QPalette::PlaceholderText));
        painter.drawText(QPointF(row.left() + 2, row.top() + metrics.ascent()), time);
    }
    for (const bool bAbove : {true, false}) {
        const QStringList events = EventTexts(cells, bAbove);
        if (events.isEmpty())
            continue;
        // A thin marked line at the row's edge, its words at the right end
        // in a smaller font, inside the row. Where they do not fit, the
        // oldest give way: the newest event always shows.
        const QColor mark = pal.color(QPalette::Link);
        painter.setPen(mark);
        const int y = bAbove ? row.top() : row.bottom();
        painter.drawLine(row.left(), y, row.right(), y);
        QFont small = painter.font();
        small.setPixelSize(qMax(6, row.height() * 3 / 4));
        painter.setFont(small);
        const QFontMetrics smallMetrics(small);
        const int nRoom = qMax(0, row.right() - row.left() - Width() - 6);
        const QString text =
            smallMetrics.elidedText(events.join(QStringLiteral(" \u00B7 ")), Qt::ElideLeft, nRoom);
        const int w = smallMetrics.horizontalAdvance(text) + 6;
        const int h = smallMetrics.height();
        const QRect label(qMax(row.left() + Width(), row.right() - w), bAbove ? y : y - h, w, h);
        painter.fillRect(label, pal.color(QPalette::Base));
        painter.drawRect(label.adjusted(0, 0, -1, 0));
        painter.drawText(label.adjusted(3, 0, -3, 0), Qt::AlignVCenter | Qt::AlignLeft, text);
    }
    painter.restore();
}

QString CArrivalColumn::RowKey(const CDataLayout::Cells& cells) const
{
    if (!m_bShown)
        return QString();
    const QChar sep(0x1f);
    return TimeText(cells) + sep + EventTexts(cells, true).join(sep) + sep + sep +
           EventTexts(cells, false).join(sep);
}

QString CArrivalColumn::ToolTipAt(const QPoint& pos) const
{
    const CDataLayout& layout = m_pView->Layout();
    int offset = m_pView->OffsetAt(pos);
    // The nearest boundary may be the cell's right edge.
    if (!m_pView->CharacterRect(offset).contains(pos) && offset > 0)
        --offset;
    if (offset >= layout.CharacterCount() || !m_pView->CharacterRect(offset).contains(pos))
        return QString();
    const qint64 nPos = layout.PositionOfOffset(offset);
    const qint64 nWall = nPos < layout.StreamEnd() ? m_times.WallAt(nPos) : CArrivalTimes::kNoTime;
    if (nWall == CArrivalTimes::kNoTime)
        return QString();
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(nWall / 1000);
    return tr("Arrived %1 %2")
        .arg(t.toString(QStringLiteral("yyyy-MM-dd")), FormatTime(nWall, true));
}

bool CArrivalColumn::eventFilter(QObject* pWatched, QEvent* pEvent)
{
    if (pEvent->type() != QEvent::ToolTip || pWatched != m_pView->viewport())
        return QObject::eventFilter(pWatched, pEvent);
    auto* pHelp = static_cast<QHelpEvent*>(pEvent);
    const QString text = ToolTipAt(pHelp->pos());
    if (text.isEmpty()) {
        QToolTip::hideText();
        pEvent->ignore();
    } else {
        QToolTip::showText(pHelp->globalPos(), text, m_pView->viewport());
    }
    return true;
}
