#pragma once
// The arrival times in the data window. Resting the pointer on received
// bytes shows when they arrived in a tooltip. "Show Arrival Times" in the
// context menu turns on a column at the left of each row with the time of
// the row's first byte, in a muted colour, and the port's events as marked
// lines between the rows ("14:03:10.123 disconnected: the device was
// removed"). It is off at every start, so that the window looks as it always
// did until asked; the buffer's bytes never change.
//
// User-interface thread, but for IsShown (any thread: a sender asks it
// before it wakes the column). A child of the data view; it reads the times
// from the receive buffer, which keeps them for what the view shows.

#include "CDataViewGutter.h"

#include <QObject>
#include <QString>

#include <atomic>

class CDataView;
class CReceiveBuffer;
class QMenu;
class QPoint;

class CArrivalColumn : public QObject, public CDataViewGutter
{
    Q_OBJECT
public:
    CArrivalColumn(CDataView* pView, const CReceiveBuffer& times);

    bool IsShown() const { return m_bShown.load(); }
    void SetShown(bool bShown);
    void AddToMenu(QMenu* pMenu);

    // The tooltip for a point of the viewport: when the byte under it
    // arrived; empty where there is no received byte.
    QString ToolTipAt(const QPoint& pos) const;
    // What the column shows for a row: the time of its first byte, empty
    // where none is known.
    QString TimeText(const CDataLayout::Cells& cells) const;
    // The events marked at a row's bottom edge, or with bAbove at the top
    // edge of the buffer's first row (those before its first byte).
    QStringList EventTexts(const CDataLayout::Cells& cells, bool bAbove) const;
    // The wall clock of the byte at a stream position, or
    // CArrivalTimes::kNoTime.
    qint64 WallAt(qint64 nPos) const;
    // A port event came: its line shows, where the column is shown, without
    // moving anything else.
    void EventAdded();

    // Local time: "14:03:10.123", or "14:03:10.123456" with bMicro.
    static QString FormatTime(qint64 nWallUs, bool bMicro);

    int Width() const override;
    void PaintRow(QPainter& painter, const CDataLayout::Cells& cells,
                  const QRect& row) const override;
    QString RowKey(const CDataLayout::Cells& cells) const override;

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    // The stream positions a row's bytes take, [begin, end).
    void RowSpan(const CDataLayout::Cells& cells, qint64* pBegin, qint64* pEnd) const;

    CDataView* m_pView;
    const CReceiveBuffer& m_times;
    std::atomic<bool> m_bShown{false};
};
