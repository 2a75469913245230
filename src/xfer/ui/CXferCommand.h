#pragma once
// "Send File with XMODEM/YMODEM..." and "Receive Files with XMODEM/YMODEM..."
// in the data window's context menu. Each opens its dialog (CXferDialog) and
// starts the transfer (CXferSession) in the terminal it is given
// (CXferLink). One transfer at a time, and none while Send Text File sends a
// file. While one runs, its entry cancels it and the other is disabled.
// When the window closes (its dialog finishes) or the command goes, a
// transfer still running is abandoned: cancelled, its thread joined, nothing
// of a file being received left behind.
//
// User-interface thread.

#include "CXferSession.h"
#include "XferJob.h"

#include <QObject>

#include <memory>

class CDataView;
class QMenu;
class QWidget;

class CXferCommand : public QObject
{
    Q_OBJECT
public:
    // pWindow: the Terminal window, the dialogs' parent; link: the terminal
    // the transfer runs in (the window itself).
    CXferCommand(QWidget* pWindow, CDataView* pView, CXferLink& link);
    ~CXferCommand() override;

    void AddToMenu(QMenu* pMenu);
    // The menu entries: ask and start, or cancel the transfer they started.
    void OnSend();
    void OnReceive();
    // Starts what a dialog asked for; false (and a message saying why) when
    // it is refused.
    bool Start(const SXferJob& job);
    // Ends a running transfer without a word (the window is closing).
    void Abandon();

    // The current or last transfer; null before the first.
    CXferSession* Session() const { return m_pSession.get(); }
    // The engines' timings for the transfers from now on (tests shorten them).
    void SetTimings(const CXferTimings& timings) { m_timings = timings; }

    static QString SendText() { return tr("Send File with XMODEM/YMODEM..."); }
    static QString ReceiveText() { return tr("Receive Files with XMODEM/YMODEM..."); }

private:
    void Choose(bool bSend);
    // Why no transfer can start now; empty when one can.
    QString WhyNot() const;

    QWidget* m_pWindow;
    CXferLink& m_link;
    CXferTimings m_timings;
    SXferJob m_lastSend;    // offered the next time
    SXferJob m_lastReceive; // offered the next time
    std::unique_ptr<CXferSession> m_pSession;
};
