#pragma once
// The plot itself: one line per series in its own colour over a time axis
// (local clock) and a value axis, drawn with QPainter from the store. Each
// series is decimated to one minimum/maximum pair per pixel column, so a
// frame draws at most about two lines per column and series whatever the
// store holds (CPlotStore::Decimate).
//
// The time window: the last 10 s, 1 min, 10 min or everything, ending at
// the newest value while it follows; dragging pans, the wheel zooms around
// the mouse, and either stops following; a double-click follows again.
// Keys: Left/Right pan by a tenth, Up or '+' zooms in, Down or '-' out, End
// follows again, Home goes to the first value. The value axis fits what is
// visible unless a fixed range is set. While the mouse is over the plot a
// cursor line shows the time and each series' value there.
//
// User-interface thread; it only reads the store, which its owner keeps.

#include "CPlotStore.h"

#include <QColor>
#include <QWidget>
#include <vector>

class CPlotView : public QWidget
{
    Q_OBJECT
public:
    enum class Span
    {
        Last10s,
        Last1min,
        Last10min,
        All
    };
    static constexpr qint64 kMinSpanUs = 1000;                          // 1 ms
    static constexpr qint64 kMaxSpanUs = 100LL * 365 * 86400 * 1000000; // 100 years

    explicit CPlotView(const CPlotStore& store, QWidget* pParent = nullptr);

    // The colour of a series, the same for the same number.
    static QColor SeriesColour(int nSeries);

    // Shows the span, following the newest value.
    void SetSpan(Span span);
    Span GetSpan() const { return m_span; }
    static qint64 SpanUs(Span span);
    void SetFollow(bool bFollow);
    bool IsFollowing() const { return m_bFollow; }
    void SetShown(int nSeries, bool bShown);
    bool IsShown(int nSeries) const;
    // bFixed: the value axis shows [dLo, dHi] (dLo < dHi); else it fits.
    void SetFixedRange(bool bFixed, double dLo, double dHi);
    bool IsRangeFixed() const { return m_bFixed; }

    // The time window shown now, [from, to) in wall microseconds; false
    // while the store is empty.
    bool Window(qint64* pFrom, qint64* pTo) const;
    // The value range the last frame showed.
    void ShownRange(double* pLo, double* pHi) const
    {
        *pLo = m_dShownLo;
        *pHi = m_dShownHi;
    }
    // The store changed: repaints when the change can show.
    void DataChanged();
    // The store was emptied.
    void DataCleared();

    // Draws the plot as it is into `rect` of `painter` (the window's picture,
    // the benchmark).
    void Draw(class QPainter& painter, const QRect& rect);

    // The cursor's text at x (widget coordinates): the time and each shown
    // series' last value at or before it; empty outside the plot.
    QString CursorTextAt(int x) const;
    // The newest value of every series, for assistive technology:
    // "temp 21.5, hum 40".
    QString LastValuesText() const;

Q_SIGNALS:
    void FollowChanged(bool bFollow);
    // The cursor moved: its text, empty when it left.
    void CursorChanged(const QString& text);

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void mouseDoubleClickEvent(QMouseEvent* pEvent) override;
    void wheelEvent(QWheelEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;
    void leaveEvent(QEvent* pEvent) override;

private:
    // The plot's area inside `rect` for a font; the value labels' width is
    // known only later, so the left edge is set by Draw.
    QRect PlotArea(const QRect& rect, int nLabelWidth) const;
    // Stops following, keeping [nFrom, nTo) (clamped to the spans allowed).
    void ShowWindow(qint64 nFrom, qint64 nTo);
    void ZoomAround(qint64 nCentre, double dFactor);
    void Pan(qint64 nByUs);
    qint64 TimeAtX(int x) const;
    void UpdateCursor();

    const CPlotStore& m_store;
    Span m_span = Span::Last1min;
    bool m_bFollow = true;
    qint64 m_nFrom = 0; // the window while not following
    qint64 m_nTo = 0;
    quint64 m_nHidden = 0; // a bit per hidden series
    bool m_bFixed = false;
    double m_dFixedLo = 0;
    double m_dFixedHi = 1;
    // What the last frame showed: the value range, the plot's area and time
    // window, the newest time.
    double m_dShownLo = 0;
    double m_dShownHi = 1;
    QRect m_plotArea;
    qint64 m_nShownFrom = 0;
    qint64 m_nShownTo = 0;
    qint64 m_nShownLast = kPlotNoTime;
    // The mouse: cursor position (-1: none), drag start and its window.
    int m_nCursorX = -1;
    bool m_bDragging = false;
    int m_nDragX = 0;
    qint64 m_nDragFrom = 0;
    qint64 m_nDragTo = 0;
    // Scratch memory of Draw.
    CPlotStore::SColumnRows m_columnRows;
    std::vector<CPlotStore::SDecimated> m_decimated; // per series
};
