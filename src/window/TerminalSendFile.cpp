// The Terminal window's Send Text File command.

#include "Afx.h"
#include "CFileSend.h"
#include "CStatusBarCtrl.h"
#include "CTerminalDlg.h"
#include "ReceiveBuffer.h"

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
        SendFileBytes(QByteArray(), true, true);
        return;
    }
    m_pFileSend->Send(path, nSize);
}

qint64 CTerminalDlg::SendFileBytes(const QByteArray& bytes, bool bWhole, bool bFirst)
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    // A whole file shares its bytes with the port's queue; a piece of a
    // larger one is copied there (it is a view of the sender's buffer).
    const int nSent = bWhole ? m_port.Write(bytes, kStreamFile)
                             : m_port.Write(bytes.constData(), int(bytes.size()), kStreamFile);
    if (nSent < 0)
        return nSent;
    m_nTxCount += nSent;
    // The gate is set once for the file, as for any other transmission.
    if (bFirst)
        m_bEchoPending = true;
    UpdateStatusBar();
    if (IsLocalEchoChecked()) {
        if (bWhole) {
            AppendText(nSent == bytes.size() ? bytes : bytes.left(nSent));
        } else {
            // In parts no longer than one trim, so that the buffer stays
            // within its limit however long the file is.
            for (int nFrom = 0; nFrom < nSent; nFrom += ReceiveBuffer::kTrim)
                AppendText(bytes.mid(nFrom, qMin(ReceiveBuffer::kTrim, nSent - nFrom)));
        }
    }
    return nSent;
}

bool CTerminalDlg::SendSequence(const QByteArray& bytes)
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    const int nSent = m_port.Write(bytes, kStreamTyped);
    if (nSent < 0) {
        AfxMessageBeep(); // nothing would go anywhere: nothing is counted
        return false;
    }
    // As a file: counted, the gate set once, echoed as one block.
    m_nTxCount += nSent;
    m_bEchoPending = true;
    UpdateStatusBar();
    if (IsLocalEchoChecked())
        AppendText(nSent == bytes.size() ? bytes : bytes.left(nSent));
    return true;
}
