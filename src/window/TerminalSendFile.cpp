// The Terminal window's Send Text File command.

#include "Afx.h"
#include "CFileSend.h"
#include "CStatusBarCtrl.h"
#include "CTerminalDlg.h"
#include "CViewRefresh.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// Checks that `path` is a file that can be sent and gives its size; false
// with the reason otherwise.
bool CheckFile(const QString& path, qint64& nSize, QString& reason)
{
    const QFileInfo info(path);
    if (info.isDir()) {
        reason = QStringLiteral("it is a folder, not a file");
        return false;
    }
    // A pipe or a device would never end (or never open): only files.
    if (info.exists() && !info.isFile()) {
        reason = QStringLiteral("it is not a regular file");
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        reason = file.errorString();
        return false;
    }
    nSize = file.size();
    return true;
}

} // namespace

void CTerminalDlg::OnSendTextFile()
{
    // While a large file streams, the command stops it.
    if (m_pFileSend->IsStreaming()) {
        m_pFileSend->Stop();
        return;
    }
    // One thing at a time goes to the device.
    if (IsTransferring()) {
        AfxMessageBox(QStringLiteral("Cannot send a file while an XMODEM or YMODEM transfer runs; "
                                     "press Escape in the Terminal window to cancel it."));
        return;
    }
    const QString path = AfxGetOpenFileName(this);
    if (path.isEmpty())
        return;

    // Checked, and complained about, before anything is sent; the file is
    // read on the file send's thread, never this one.
    qint64 nSize = 0;
    QString reason;
    if (!CheckFile(path, nSize, reason)) {
        AfxMessageBox(
            QStringLiteral("Cannot send '%1': %2").arg(QFileInfo(path).fileName(), reason));
        return;
    }
    if (!m_port.IsOpen()) {
        AfxMessageBeep(); // nothing would go anywhere: nothing is counted
        return;
    }
    if (nSize == 0) {
        // Nothing to read: an empty Write, and the echo of nothing.
        m_transmit.SendFilePiece(QByteArray(), true, true);
        return;
    }
    m_pFileSend->Send(path, nSize);
}

bool CTerminalDlg::SendSequence(const QByteArray& bytes)
{
    // As a file: counted, the gate set once, echoed as one block; whole or
    // not at all (a full queue takes none of it).
    return m_transmit.Send(bytes, CTransmitter::kSequence) == bytes.size();
}

// XMODEM and YMODEM transfers: what they need of the window.

void CTerminalDlg::SetReceiveTap(Tap* pTap)
{
    m_pTap = pTap;
    m_receiveSink.SetTap(pTap);
}

qint64 CTerminalDlg::SendTransferBytes(const QByteArray& bytes)
{
    return m_transmit.Send(bytes, CTransmitter::kTransfer);
}

qint64 CTerminalDlg::PendingBytes() const
{
    return m_port.IsOpen() ? m_port.GetPendingCount() : -1;
}

void CTerminalDlg::ShowTransferStatus(const QString& text)
{
    // The transfer's blocks change Tx without a word (a refresh for each
    // block cost the window more than the whole transfer's other work): the
    // figure goes with the progress, both parts in one repaint.
    UpdateStatusBar();
    if (m_wndStatusBar)
        m_wndStatusBar->SetText(3, text);
}

void CTerminalDlg::AppendNote(const QString& text)
{
    // On a line of its own, without its times; the echo gate stays as it is.
    {
        std::lock_guard<std::mutex> guard(m_lock);
        const QByteArray last = m_strData.Snapshot().Bytes().right(1);
        QByteArray line = text.toLocal8Bit() + "\r\n";
        if (!last.isEmpty() && last != "\n" && last != "\r")
            line.prepend("\r\n");
        m_strData.Append(line, nullptr);
        if (!m_bPaused.load())
            m_strData.MarkShown(m_bHexDisplay.load());
        m_nRxCount = int(m_strData.Size());
    }
    m_pRefresh->Changed();
}

bool CTerminalDlg::IsSendingFile() const
{
    return m_pFileSend && m_pFileSend->IsActive();
}

QString CTerminalDlg::FilesFolder() const
{
    return QDir::currentPath();
}
