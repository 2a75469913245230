#pragma once
// "Plot Numbers" in the data window's context menu: opens the plot window
// (or brings it to the front) and feeds it the received bytes with their
// arrival times from the receive buffer: first what the buffer holds, then
// every block appended, whether the data window is paused or not. The buffer
// is read only while a plot window exists, so the plot costs nothing while
// it is closed. Clear Data Window empties the plot with the buffer.
//
// User-interface thread; the buffer tells of appends on the port's thread,
// which only asks for one coalesced read here (it never waits).

#include "CPlotWindow.h"
#include "CReceiveBuffer.h"
#include "KrCoalescedCall.h"

#include <QObject>
#include <QPointer>

class CDataView;
class QMenu;
class QWidget;

class CPlotCommand : public QObject, private CReceiveBuffer::Listener
{
    Q_OBJECT
public:
    CPlotCommand(QWidget* pWindow, CDataView* pView, CReceiveBuffer& buffer);
    ~CPlotCommand() override;

    void AddToMenu(QMenu* pMenu);
    // Opens the plot window, or brings it to the front.
    void Open();
    // The plot window while it is open, else null.
    CPlotWindow* Window() const { return m_pPlot; }
    // Feeds what came since the last read now (a pending read runs at once).
    void Read();

private:
    void BufferAppended() override { m_read.Request(); }
    void Detach();

    QWidget* m_pWindow;
    CReceiveBuffer& m_buffer;
    QPointer<CPlotWindow> m_pPlot;
    CReceiveBuffer::Reader m_reader;
    KrCoalescedCall m_read{this, [this] { Read(); }};
};
