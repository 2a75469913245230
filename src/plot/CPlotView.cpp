#include "CPlotView.h"

#include "PlotCsv.h"
#include "PlotTicks.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace {

constexpr QRgb kColours[] = {0x1f5fbf, 0xd9480f, 0x2b8a3e, 0xae3ec9, 0x0c8599,
                             0xc92a2a, 0x5c940d, 0xe67700, 0x364fc7, 0xa61e4d};
// Lines far outside the plot are cut to this many pixels beyond it, which
// keeps their slope where they cross it and the painter's numbers small.
constexpr double kFarPixels = 1e6;

// dPart of `a` and the rest of `b`.
QColor Mix(const QColor& a, const QColor& b, double dPart)
{
    const auto mix = [&](int x, int y) { return int(std::lround(x * dPart + y * (1 - dPart))); };
    return QColor(mix(a.red(), b.red()), mix(a.green(), b.green()), mix(a.blue(), b.blue()));
}

double Clamp(double d, double dLo, double dHi)
{
    return std::isnan(d) ? dLo : std::min(std::max(d, dLo), dHi);
}

} // namespace

CPlotView::CPlotView(const CPlotStore& store, QWidget* pParent) : QWidget(pParent), m_store(store)
{
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(240, 160);
    setAccessibleName(tr("Plot"));
}

QColor CPlotView::SeriesColour(int nSeries)
{
    if (nSeries >= 0 && nSeries < int(std::size(kColours)))
        return QColor(kColours[nSeries]);
    // Hues a golden angle apart, dark enough for a light background.
    return QColor::fromHsv((nSeries * 137) % 360, 210, 175);
}

qint64 CPlotView::SpanUs(Span span)
{
    switch (span) {
    case Span::Last10s:
        return 10LL * 1000000;
    case Span::Last1min:
        return 60LL * 1000000;
    case Span::Last10min:
        return 600LL * 1000000;
    case Span::All:
        break;
    }
    return 0;
}

void CPlotView::SetSpan(Span span)
{
    m_span = span;
    SetFollow(true);
    update();
}

void CPlotView::SetFollow(bool bFollow)
{
    if (bFollow == m_bFollow)
        return;
    if (!bFollow && !Window(&m_nFrom, &m_nTo))
        m_nFrom = m_nTo = 0;
    m_bFollow = bFollow;
    update();
    Q_EMIT FollowChanged(m_bFollow);
}

void CPlotView::SetShown(int nSeries, bool bShown)
{
    if (nSeries < 0 || nSeries >= CPlotStore::kMaxSeries)
        return;
    const quint64 nBit = quint64(1) << nSeries;
    m_nHidden = bShown ? (m_nHidden & ~nBit) : (m_nHidden | nBit);
    update();
    UpdateCursor();
}

bool CPlotView::IsShown(int nSeries) const
{
    return nSeries >= 0 && nSeries < CPlotStore::kMaxSeries && !(m_nHidden >> nSeries & 1);
}

void CPlotView::SetFixedRange(bool bFixed, double dLo, double dHi)
{
    m_bFixed = bFixed && dLo < dHi && std::isfinite(dLo) && std::isfinite(dHi);
    if (m_bFixed) {
        m_dFixedLo = dLo;
        m_dFixedHi = dHi;
    }
    update();
}

bool CPlotView::Window(qint64* pFrom, qint64* pTo) const
{
    if (m_store.RowCount() == 0)
        return false;
    if (!m_bFollow && m_nTo > m_nFrom) {
        *pFrom = m_nFrom;
        *pTo = m_nTo;
        return true;
    }
    *pTo = m_store.LastTime() + 1;
    if (m_span == Span::All)
        *pFrom = std::min(m_store.FirstTime(), *pTo - kMinSpanUs);
    else
        *pFrom = *pTo - SpanUs(m_span);
    return true;
}

void CPlotView::DataChanged()
{
    // New values come after the newest one shown: they can show only where
    // the window reaches past it.
    if (m_bFollow || m_nShownLast == kPlotNoTime || m_nShownLast + 1 < m_nShownTo ||
        m_store.LastTime() < m_nShownLast)
        update();
    if (m_nCursorX >= 0)
        UpdateCursor();
}

void CPlotView::DataCleared()
{
    m_nHidden = 0;
    m_nShownLast = kPlotNoTime;
    if (!m_bFollow) {
        m_bFollow = true;
        Q_EMIT FollowChanged(true);
    }
    update();
    UpdateCursor();
}

QRect CPlotView::PlotArea(const QRect& rect, int nLabelWidth) const
{
    const QFontMetrics fm(font());
    const int nHalfTime = fm.horizontalAdvance(QStringLiteral("00:00:00.000")) / 2;
    const QRect area =
        rect.adjusted(nLabelWidth + 10, fm.height() / 2 + 4, -(nHalfTime + 4), -(fm.height() + 10));
    return area.isValid() ? area : QRect(rect.topLeft(), QSize(1, 1));
}

void CPlotView::Draw(QPainter& painter, const QRect& rect)
{
    const QPalette& pal = palette();
    painter.fillRect(rect, pal.color(QPalette::Base));
    painter.setPen(pal.color(QPalette::Text));
    qint64 nFrom = 0, nTo = 0;
    if (!Window(&nFrom, &nTo)) {
        painter.drawText(rect.adjusted(12, 12, -12, -12), Qt::AlignCenter | Qt::TextWordWrap,
                         tr("No numbers yet. Lines such as \"temp:21.5 hum:40\", "
                            "\"x=0.12 y=-0.98\" or \"12,340,-7\" are plotted as they arrive."));
        m_plotArea = QRect();
        m_nShownLast = kPlotNoTime;
        return;
    }
    const QFontMetrics fm(font());
    const int nSeries = m_store.SeriesCount();
    if (int(m_decimated.size()) < nSeries)
        m_decimated.resize(size_t(nSeries));

    // The value range does not depend on the plot's width; the width depends
    // on the value labels. Decimated once with the width the labels had last
    // time, again only when they need another.
    int nLabelWidth = m_plotArea.isNull() ? fm.horizontalAdvance(QStringLiteral("-0.000"))
                                          : m_plotArea.left() - rect.left() - 10;
    QRect area = PlotArea(rect, nLabelWidth);
    const auto decimate = [&] {
        m_store.ColumnRows(nFrom, nTo, area.width(), m_columnRows);
        for (int s = 0; s < nSeries; ++s) {
            if (IsShown(s))
                m_store.Decimate(s, m_columnRows, m_decimated[size_t(s)]);
        }
    };
    decimate();
    double dLo = HUGE_VAL, dHi = -HUGE_VAL;
    for (int s = 0; s < nSeries; ++s) {
        if (!IsShown(s))
            continue;
        for (const CPlotStore::SColumn& c : m_decimated[size_t(s)].columns) {
            if (c.nPoints > 0) {
                dLo = std::min(dLo, c.dMin);
                dHi = std::max(dHi, c.dMax);
            }
        }
    }
    if (m_bFixed) {
        dLo = m_dFixedLo;
        dHi = m_dFixedHi;
    } else if (dLo > dHi) {
        dLo = -1;
        dHi = 1;
    } else {
        const double dPad = dHi > dLo ? (dHi - dLo) * 0.05 : std::max(std::fabs(dLo) * 0.1, 1.0);
        dLo -= dPad;
        dHi += dPad;
    }
    m_dShownLo = dLo;
    m_dShownHi = dHi;

    const std::vector<double> valueTicks =
        PlotTicks::ValueTicks(dLo, dHi, std::max(2, area.height() / (fm.height() * 2)));
    const double dStep = valueTicks.size() >= 2 ? valueTicks[1] - valueTicks[0] : dHi - dLo;
    QStringList valueTexts;
    int nWidth = 0;
    for (const double d : valueTicks) {
        valueTexts << PlotTicks::ValueText(d, dStep);
        nWidth = std::max(nWidth, fm.horizontalAdvance(valueTexts.back()));
    }
    if (nWidth != nLabelWidth) {
        area = PlotArea(rect, nWidth);
        decimate();
    }
    m_plotArea = area;
    m_nShownFrom = nFrom;
    m_nShownTo = nTo;
    m_nShownLast = m_store.LastTime();

    const double dSpan = double(nTo - nFrom);
    const double dWidth = area.width();
    const auto xOf = [&](qint64 t) {
        return Clamp(area.left() + (t - nFrom) * dWidth / dSpan, area.left() - kFarPixels,
                     area.right() + kFarPixels);
    };
    const double dBottom = area.bottom() + 1;
    const double dScale = area.height() / (dHi - dLo);
    const auto yOf = [&](double v) {
        return Clamp(dBottom - (v - dLo) * dScale, area.top() - kFarPixels,
                     area.bottom() + kFarPixels);
    };

    // The grid and the axes' labels.
    // Opaque colours only: a translucent one makes the painter blend on
    // threads of its own, which costs more than the whole plot.
    const QColor grid = Mix(pal.color(QPalette::Mid), pal.color(QPalette::Base), 0.35);
    const QColor text = pal.color(QPalette::Text);
    for (size_t i = 0; i < valueTicks.size(); ++i) {
        const int y = int(std::lround(yOf(valueTicks[i])));
        painter.setPen(grid);
        painter.drawLine(area.left(), y, area.right(), y);
        painter.setPen(text);
        painter.drawText(
            QRect(rect.left(), y - fm.height() / 2, area.left() - rect.left() - 6, fm.height()),
            Qt::AlignRight | Qt::AlignVCenter, valueTexts[int(i)]);
    }
    const int nTimeLabel = fm.horizontalAdvance(QStringLiteral("00:00:00.000")) + 16;
    const qint64 nTimeStep =
        PlotTicks::TimeStep(nTo - nFrom, std::max(1, area.width() / nTimeLabel));
    for (const qint64 t : PlotTicks::TimeTicks(nFrom, nTo, nTimeStep)) {
        const int x = int(xOf(t));
        painter.setPen(grid);
        painter.drawLine(x, area.top(), x, area.bottom());
        painter.setPen(text);
        painter.drawText(QRect(x - nTimeLabel, area.bottom() + 4, 2 * nTimeLabel, fm.height()),
                         Qt::AlignHCenter | Qt::AlignTop, PlotTicks::TimeText(t, nTimeStep));
    }
    painter.setPen(pal.color(QPalette::Mid));
    painter.drawRect(area.adjusted(-1, -1, 0, 0));

    // The series: per column a line from the last column's last value to this
    // one's first, and one from its minimum to its maximum.
    painter.save();
    painter.setClipRect(area);
    std::vector<QLineF> lines;
    std::vector<QPointF> dots;
    for (int s = 0; s < nSeries; ++s) {
        if (!IsShown(s))
            continue;
        const CPlotStore::SDecimated& d = m_decimated[size_t(s)];
        lines.clear();
        dots.clear();
        bool bPrev = d.bBefore;
        QPointF prev(bPrev ? xOf(d.before.nTime) : 0, bPrev ? yOf(d.before.dValue) : 0);
        for (size_t c = 0; c < d.columns.size(); ++c) {
            const CPlotStore::SColumn& col = d.columns[c];
            if (col.nPoints == 0)
                continue;
            const double x = area.left() + double(c) + 0.5;
            if (bPrev)
                lines.push_back(QLineF(prev, QPointF(x, yOf(col.dFirst))));
            if (col.dMin != col.dMax)
                lines.push_back(QLineF(x, yOf(col.dMin), x, yOf(col.dMax)));
            dots.push_back(QPointF(x, yOf(col.dLast)));
            prev = QPointF(x, yOf(col.dLast));
            bPrev = true;
        }
        if (bPrev && d.bAfter)
            lines.push_back(QLineF(prev, QPointF(xOf(d.after.nTime), yOf(d.after.dValue))));
        const QColor colour = SeriesColour(s);
        painter.setPen(QPen(colour, 1));
        painter.drawLines(lines.data(), int(lines.size()));
        // Sparse values get a mark each, so that single ones show.
        if (dots.size() * 6 <= size_t(area.width())) {
            for (const QPointF& p : dots)
                painter.fillRect(QRectF(p.x() - 1.5, p.y() - 1.5, 3, 3), colour);
        }
    }
    painter.restore();

    // The cursor.
    if (m_nCursorX >= area.left() && m_nCursorX <= area.right()) {
        painter.setPen(QPen(text, 1, Qt::DashLine));
        painter.drawLine(m_nCursorX, area.top(), m_nCursorX, area.bottom());
        const qint64 t = TimeAtX(m_nCursorX);
        QStringList rows{PlotTicks::CursorTime(t)};
        std::vector<QColor> colours{text};
        for (int s = 0; s < nSeries; ++s) {
            CPlotStore::SPoint p;
            if (IsShown(s) && m_store.ValueAt(s, t, &p) && p.nTime >= nFrom) {
                rows << m_store.LabelText(s) + QLatin1Char(' ') +
                            QString::fromLatin1(PlotCsv::Number(p.dValue));
                colours.push_back(SeriesColour(s));
            }
        }
        int nBoxWidth = 0;
        for (const QString& row : rows)
            nBoxWidth = std::max(nBoxWidth, fm.horizontalAdvance(row));
        const int nRows = std::min<int>(rows.size(), std::max(1, area.height() / fm.height()));
        QRect box(0, area.top() + 4, nBoxWidth + 8, nRows * fm.height() + 4);
        box.moveLeft(m_nCursorX + 8 + box.width() <= area.right() ? m_nCursorX + 8
                                                                  : m_nCursorX - 8 - box.width());
        painter.fillRect(box, pal.color(QPalette::Base));
        for (int i = 0; i < nRows; ++i) {
            painter.setPen(colours[size_t(i)]);
            painter.drawText(box.left() + 4, box.top() + 2 + i * fm.height() + fm.ascent(),
                             rows[i]);
        }
    }
}

void CPlotView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    Draw(painter, rect());
    if (hasFocus()) {
        QPen pen(palette().color(QPalette::Highlight), 1, Qt::DotLine);
        painter.setPen(pen);
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

qint64 CPlotView::TimeAtX(int x) const
{
    if (m_plotArea.isNull() || m_plotArea.width() <= 0)
        return m_nShownFrom;
    return m_nShownFrom +
           qint64(std::floor(double(x - m_plotArea.left()) * double(m_nShownTo - m_nShownFrom) /
                             m_plotArea.width()));
}

QString CPlotView::CursorTextAt(int x) const
{
    if (m_plotArea.isNull() || x < m_plotArea.left() || x > m_plotArea.right())
        return QString();
    const qint64 t = TimeAtX(x);
    QString text = PlotTicks::CursorTime(t);
    for (int s = 0; s < m_store.SeriesCount(); ++s) {
        CPlotStore::SPoint p;
        if (IsShown(s) && m_store.ValueAt(s, t, &p) && p.nTime >= m_nShownFrom) {
            text += QStringLiteral("  ") + m_store.LabelText(s) + QLatin1Char(' ') +
                    QString::fromLatin1(PlotCsv::Number(p.dValue));
        }
    }
    return text;
}

QString CPlotView::LastValuesText() const
{
    QStringList parts;
    for (int s = 0; s < m_store.SeriesCount(); ++s) {
        CPlotStore::SPoint p;
        QString part = m_store.LabelText(s) + QLatin1Char(' ');
        part += m_store.Last(s, &p) ? QString::fromLatin1(PlotCsv::Number(p.dValue))
                                    : tr("no value kept");
        if (!IsShown(s))
            part += tr(" (hidden)");
        parts << part;
    }
    return parts.join(QStringLiteral(", "));
}

void CPlotView::UpdateCursor()
{
    Q_EMIT CursorChanged(m_nCursorX >= 0 ? CursorTextAt(m_nCursorX) : QString());
}

void CPlotView::ShowWindow(qint64 nFrom, qint64 nTo)
{
    qint64 nSpan = std::clamp(nTo - nFrom, kMinSpanUs, kMaxSpanUs);
    const qint64 nMiddle = nFrom + (nTo - nFrom) / 2;
    m_nFrom = nMiddle - nSpan / 2;
    m_nTo = m_nFrom + nSpan;
    if (m_bFollow) {
        m_bFollow = false;
        Q_EMIT FollowChanged(false);
    }
    update();
    UpdateCursor();
}

void CPlotView::ZoomAround(qint64 nCentre, double dFactor)
{
    qint64 nFrom = 0, nTo = 0;
    if (!Window(&nFrom, &nTo))
        return;
    const double dSpan =
        std::clamp(double(nTo - nFrom) * dFactor, double(kMinSpanUs), double(kMaxSpanUs));
    const double dLeft = double(nCentre - nFrom) / double(nTo - nFrom);
    const qint64 nNewFrom = nCentre - qint64(dLeft * dSpan);
    ShowWindow(nNewFrom, nNewFrom + qint64(dSpan));
}

void CPlotView::Pan(qint64 nByUs)
{
    qint64 nFrom = 0, nTo = 0;
    if (Window(&nFrom, &nTo))
        ShowWindow(nFrom + nByUs, nTo + nByUs);
}

void CPlotView::mousePressEvent(QMouseEvent* pEvent)
{
    if (pEvent->button() != Qt::LeftButton || !Window(&m_nDragFrom, &m_nDragTo)) {
        QWidget::mousePressEvent(pEvent);
        return;
    }
    m_bDragging = true;
    m_nDragX = int(pEvent->position().x());
}

void CPlotView::mouseMoveEvent(QMouseEvent* pEvent)
{
    const int x = int(pEvent->position().x());
    if (m_bDragging && x != m_nDragX && m_plotArea.width() > 0) {
        const qint64 nShift =
            qint64(double(m_nDragX - x) * double(m_nDragTo - m_nDragFrom) / m_plotArea.width());
        ShowWindow(m_nDragFrom + nShift, m_nDragTo + nShift);
    }
    m_nCursorX = x;
    update();
    UpdateCursor();
}

void CPlotView::mouseReleaseEvent(QMouseEvent* pEvent)
{
    if (pEvent->button() == Qt::LeftButton)
        m_bDragging = false;
    QWidget::mouseReleaseEvent(pEvent);
}

void CPlotView::mouseDoubleClickEvent(QMouseEvent* pEvent)
{
    if (pEvent->button() == Qt::LeftButton) {
        m_bDragging = false;
        SetFollow(true);
    }
}

void CPlotView::wheelEvent(QWheelEvent* pEvent)
{
    const double dSteps = pEvent->angleDelta().y() / 120.0;
    if (dSteps == 0 || m_plotArea.isNull()) {
        pEvent->ignore();
        return;
    }
    ZoomAround(TimeAtX(int(pEvent->position().x())), std::pow(0.8, dSteps));
    pEvent->accept();
}

void CPlotView::keyPressEvent(QKeyEvent* pEvent)
{
    qint64 nFrom = 0, nTo = 0;
    const bool bWindow = Window(&nFrom, &nTo);
    const qint64 nMiddle = nFrom + (nTo - nFrom) / 2;
    switch (pEvent->key()) {
    case Qt::Key_Left:
        Pan(-(nTo - nFrom) / 10);
        break;
    case Qt::Key_Right:
        Pan((nTo - nFrom) / 10);
        break;
    case Qt::Key_Up:
    case Qt::Key_Plus:
        if (bWindow)
            ZoomAround(nMiddle, 0.8);
        break;
    case Qt::Key_Down:
    case Qt::Key_Minus:
        if (bWindow)
            ZoomAround(nMiddle, 1.25);
        break;
    case Qt::Key_End:
        SetFollow(true);
        break;
    case Qt::Key_Home:
        if (bWindow)
            ShowWindow(m_store.FirstTime(), m_store.FirstTime() + (nTo - nFrom));
        break;
    default:
        QWidget::keyPressEvent(pEvent);
        return;
    }
    pEvent->accept();
}

void CPlotView::leaveEvent(QEvent* pEvent)
{
    m_nCursorX = -1;
    update();
    UpdateCursor();
    QWidget::leaveEvent(pEvent);
}
