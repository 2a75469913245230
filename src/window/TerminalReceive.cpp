// The Terminal window's receive path: the buffer, its display and the
// status bar figures.

#include "CArrivalColumn.h"
#include "CDataView.h"
#include "CStatusBarCtrl.h"
#include "CTerminalDlg.h"
#include "CViewRefresh.h"
#include "ReceiveBuffer.h"

#include <QThread>

void CTerminalDlg::AppendText(QByteArray text)
{
    AppendTimed(text, nullptr);
}

void CTerminalDlg::AppendReceived(const QByteArray& block, const KrBlockTimes& times)
{
    AppendTimed(block, &times);
}

void CTerminalDlg::AppendPortEvent(const KrPortEvent& event)
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_arrivals.AddEvent(m_pRefresh->StreamStart() + m_strData.size(), event);
    m_pRefresh->Appended(0, !m_bPaused.load());
    m_pRefresh->Request();
}

void CTerminalDlg::AppendTimed(const QByteArray& text, const KrBlockTimes* pTimes)
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (!m_bEchoPending.load() || IsLocalEchoChecked()) {
        const qint64 nPos = m_pRefresh->StreamStart() + m_strData.size();
        const int nTrimmed = ReceiveBuffer::AppendAndTrim(m_strData, text);
        // The times of what is appended; those of what was trimmed go.
        m_arrivals.AddBlock(nPos, text.size(), pTimes);
        if (nTrimmed > 0)
            m_arrivals.TrimBefore(m_pRefresh->StreamStart() + nTrimmed);
        m_pRefresh->Appended(nTrimmed, !m_bPaused.load());
    }
    m_nRxCount = int(m_strData.size());
    m_bEchoPending = false;
    UpdateStatusBar();
}

QByteArray CTerminalDlg::FormatHexData() const
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    QByteArray hex(m_strData.size() * ReceiveBuffer::kHexGroup, Qt::Uninitialized);
    char* p = hex.data();
    for (const char ch : m_strData) {
        ReceiveBuffer::HexGroup(static_cast<unsigned char>(ch), p);
        p += ReceiveBuffer::kHexGroup;
    }
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
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    // Typed characters a close or a loss dropped unsent never left (a file's
    // bytes are the file send's to take back).
    m_nTxCount = qMax<qint64>(0, m_nTxCount - m_port.TakeDroppedCount(kStreamTyped));
    // The only place the figures are written.
    m_wndStatusBar->SetText(0, QStringLiteral("Rx:%1").arg(m_nRxCount));
    m_wndStatusBar->SetText(1, QStringLiteral("Tx:%1").arg(m_nTxCount));
    m_wndStatusBar->SetText(2, QString());
    if (m_pRefresh->HasChanges())
        m_pRefresh->Request();
}

void CTerminalDlg::Refresh()
{
    QByteArray bytes;
    qint64 nStart = 0;
    bool bChanged = false;
    bool bExtend = false;
    bool bHex = false;
    {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        bChanged = m_pRefresh->TakeChanges(&nStart) && m_editData;
        if (bChanged) {
            bHex = m_bHexDisplay.load();
            // Only what the view has not seen is copied, so the buffer is
            // never left shared (the next append would copy all of it);
            // anything else (a new mode, the view fallen behind) starts the
            // view afresh.
            bExtend = m_editData->CanExtend(nStart, nStart + m_strData.size(), bHex);
            bytes =
                bExtend ? m_strData.mid(qsizetype(m_editData->StreamEnd() - nStart)) : m_strData;
            // The times of the bytes it is about to show, before it shows them.
            if (m_pArrivalColumn)
                m_pArrivalColumn->Take(m_arrivals);
        }
        UpdateStatusBar();
    }
    // The lock is not held while the view lays out and paints.
    if (!bChanged)
        return;
    if (bExtend)
        m_editData->ExtendBuffer(bytes, nStart);
    else
        m_editData->SetBuffer(bytes, nStart, bHex);
}

void CTerminalDlg::FlushRefresh()
{
    m_pRefresh->Flush();
}

QByteArray CTerminalDlg::GetData() const
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return m_strData;
}

qint64 CTerminalDlg::GetTxCount() const
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return m_nTxCount;
}
