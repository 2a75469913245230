// The Terminal window's receive path: the buffer, its display and the
// status bar figures.

#include "CDataView.h"
#include "CRefreshScheduler.h"
#include "CStatusBarCtrl.h"
#include "CTerminalDlg.h"
#include "ReceiveBuffer.h"

#include <QCheckBox>
#include <QLocale>
#include <QThread>

void CTerminalDlg::AppendText(QByteArray text)
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (!m_bEchoPending.load() || IsLocalEchoChecked()) {
        m_nStreamStart += ReceiveBuffer::AppendAndTrim(m_strData, text);
        if (!m_bPaused.load())
            m_bViewDirty = true;
    }
    m_nRxCount = int(m_strData.size());
    m_bEchoPending = false;
    UpdateStatusBar();
}

QByteArray CTerminalDlg::FormatHexData() const
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return ReceiveBuffer::FormatHex(m_strData);
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
    TakeBackDroppedLocked();
    m_wndStatusBar->SetText(0, QStringLiteral("Rx:%1").arg(m_nRxCount));
    m_wndStatusBar->SetText(1, QStringLiteral("Tx:%1").arg(m_nTxCount));
    m_wndStatusBar->SetText(2, QString());
    if (m_bViewDirty)
        m_pRefresh->Request();
}

void CTerminalDlg::Refresh()
{
    QByteArray snapshot;
    qint64 nStart = 0;
    bool bDirty = false;
    bool bHex = false;
    {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        bDirty = m_bViewDirty;
        m_bViewDirty = false;
        if (bDirty) {
            snapshot = m_strData; // shared, not copied
            nStart = m_nStreamStart;
            bHex = m_bHexDisplay.load();
        }
        if (m_wndStatusBar) {
            TakeBackDroppedLocked();
            m_wndStatusBar->SetText(0, QStringLiteral("Rx:%1").arg(m_nRxCount));
            m_wndStatusBar->SetText(1, QStringLiteral("Tx:%1").arg(m_nTxCount));
            m_wndStatusBar->SetText(2, QString());
        }
    }
    // The view copies nothing it does not show; the lock is not held while
    // it lays out and paints.
    if (bDirty && m_editData)
        m_editData->SetBuffer(snapshot, nStart, bHex);
}

void CTerminalDlg::TakeBackDroppedLocked()
{
    const qint64 nDropped =
        m_port.GetDroppedCount(kStreamTyped) + m_port.GetDroppedCount(kStreamFile);
    m_nTxCount = qMax<qint64>(0, m_nTxCount - (nDropped - m_nTxDroppedSeen));
    m_nTxDroppedSeen = nDropped;
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

int CTerminalDlg::GetRxCount() const
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return m_nRxCount;
}

qint64 CTerminalDlg::GetTxCount() const
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return m_nTxCount;
}

void CTerminalDlg::UpdateLogIndicator()
{
    m_bLogNewsPending = false; // news after this point asks again
    if (!m_chkLogInput)
        return;
    CInputLog& log = m_receiveSink.InputLog();
    // Bytes lost stay on show until the user unchecks the box.
    if (!m_chkLogInput->isChecked())
        m_nLogLostSeen = log.LostBytes();
    const qint64 nLost = log.LostBytes() - m_nLogLostSeen;
    QString text = log.FailureText();
    if (text.isEmpty() && nLost > 0)
        text = QStringLiteral("%1 received bytes could not be written to the log and were lost")
                   .arg(QLocale(QLocale::English).toString(nLost));
    // Only what changed is set again: a new style sheet costs a restyle.
    const QString style =
        text.isEmpty() ? QString() : QStringLiteral("QCheckBox { color: #c00000; }");
    if (m_chkLogInput->styleSheet() != style)
        m_chkLogInput->setStyleSheet(style);
    if (m_chkLogInput->toolTip() != text)
        m_chkLogInput->setToolTip(text);
}
