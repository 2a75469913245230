// The Terminal window's receive path: the buffer, its display and the
// status bar figures.

#include "CArrivalColumn.h"
#include "CDataView.h"
#include "CStatusBarCtrl.h"
#include "CTerminalDlg.h"
#include "CViewRefresh.h"
#include "ReceiveBuffer.h"

#include <QThread>

void CTerminalDlg::AppendText(QByteArray text, const KrBlockTimes* pTimes)
{
    std::lock_guard<std::mutex> guard(m_lock);
    AppendLocked(text, pTimes);
}

void CTerminalDlg::AppendLocked(const QByteArray& text, const KrBlockTimes* pTimes)
{
    bool bShow = false;
    if (!m_bEchoPending.load() || IsLocalEchoChecked()) {
        // Added, trimmed once above the limit, with the times of its bytes.
        m_strData.Append(text, pTimes);
        // Unless paused, the data window is to show the whole buffer in the
        // display mode of now; a toggle shows from here on. While paused it
        // keeps what it shows.
        if (!m_bPaused.load()) {
            m_strData.MarkShown(m_bHexDisplay.load());
            bShow = true;
        }
    }
    m_nRxCount = int(m_strData.Size());
    m_bEchoPending = false;
    // The data window and the status bar follow on the user-interface thread.
    if (bShow)
        m_pRefresh->Changed();
    else
        m_pRefresh->Request();
}

void CTerminalDlg::AppendPortEvent(const KrPortEvent& event)
{
    // Kept between the bytes before and after it; only the time column's
    // event lines show it, and nothing scrolls.
    m_strData.AddEvent(event);
    m_pEventsCall->Request();
}

QByteArray CTerminalDlg::FormatHexData() const
{
    const CReceiveSnapshot buffer = m_strData.Snapshot();
    QByteArray hex(qsizetype(buffer.Size()) * ReceiveBuffer::kHexGroup, Qt::Uninitialized);
    ReceiveBuffer::FormatHexData(buffer.Data(), qsizetype(buffer.Size()), hex.data());
    return hex;
}

void CTerminalDlg::UpdateStatusBar()
{
    // The window belongs to the user-interface thread: from any other
    // thread the figures reach it through the coalesced refresh, which never
    // waits for that thread (and finds the bar once it exists).
    if (QThread::currentThread() != thread()) {
        m_pRefresh->Request();
        return;
    }
    if (!m_wndStatusBar)
        return;
    int nRx = 0;
    qint64 nTx = 0;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        // Typed characters and transfer bytes a close or a loss dropped
        // unsent never left.
        m_transmit.TakeDroppedLocked();
        nRx = m_nRxCount;
        nTx = m_nTxCount;
    }
    // The only place the figures are written.
    m_wndStatusBar->SetText(0, QStringLiteral("Rx:%1").arg(nRx));
    m_wndStatusBar->SetText(1, QStringLiteral("Tx:%1").arg(nTx));
    m_wndStatusBar->SetText(2, QString());
}

bool CTerminalDlg::Refresh()
{
    UpdateStatusBar();
    // What the buffer marked for the view since it last looked; no lock is
    // held while the view lays out and paints.
    CReceiveSnapshot shown;
    if (!m_editData || !m_strData.TakeShown(&m_nShownSerial, &shown))
        return false;
    m_editData->Show(shown);
    return true;
}

void CTerminalDlg::FlushRefresh()
{
    m_pRefresh->Flush();
}

QByteArray CTerminalDlg::ShownData()
{
    FlushRefresh();
    return m_editData ? m_editData->Layout().Buffer() : QByteArray();
}

QByteArray CTerminalDlg::GetData() const
{
    return m_strData.Bytes();
}

qint64 CTerminalDlg::GetTxCount() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_nTxCount;
}
