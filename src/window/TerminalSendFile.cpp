// The Terminal window's Send Text File command.

#include "Afx.h"
#include "CFileSend.h"
#include "CTerminalDlg.h"

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
        m_transmit.SendFilePiece(QByteArray(), true, true);
        return;
    }
    m_pFileSend->Send(path, nSize);
}

bool CTerminalDlg::SendSequence(const QByteArray& bytes)
{
    // As a file: counted, the gate set once, echoed as one block.
    return m_transmit.Send(bytes, CTransmitter::kSequence) >= 0;
}
