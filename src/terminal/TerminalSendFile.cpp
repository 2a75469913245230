// The Terminal window's Send Text File command.

#include "Afx.h"
#include "CFileSend.h"
#include "CStatusBarCtrl.h"
#include "CTerminalDlg.h"
#include "ReceiveBuffer.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <new>

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

// Reads the whole file; false with the reason when it cannot be read.
bool ReadWholeFile(const QString& path, qint64 nSize, QByteArray& content, QString& reason)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        reason = file.errorString();
        return false;
    }
    try {
        content.resize(qsizetype(nSize));
    } catch (const std::bad_alloc&) {
        reason = QStringLiteral("there is not enough memory for %1 bytes")
                     .arg(QLocale::c().toString(nSize));
        return false;
    }
    qint64 nRead = 0;
    while (nRead < nSize) {
        const qint64 n = file.read(content.data() + nRead, nSize - nRead);
        if (n < 0) {
            reason = file.errorString();
            return false;
        }
        if (n == 0)
            break;
        nRead += n;
    }
    // A file that shrank while it was read is sent as it was read.
    content.truncate(qsizetype(nRead));
    return true;
}

} // namespace

void CTerminalDlg::OnSendTextFile()
{
    // While a file streams, the command stops it.
    if (m_pFileSend->IsStreaming()) {
        m_pFileSend->Stop();
        return;
    }
    const QString path = AfxGetOpenFileName(this);
    if (path.isEmpty())
        return;

    // Read, and complain, before the lock is taken: the port's thread must
    // be able to go on receiving while the file is read or a message shows.
    qint64 nSize = 0;
    QByteArray content;
    QString reason;
    const bool bWhole = CheckFile(path, nSize, reason) && nSize <= CKrCommPort::kMaxQueued;
    if (!reason.isEmpty() || (bWhole && !ReadWholeFile(path, nSize, content, reason))) {
        AfxMessageBox(
            QStringLiteral("Cannot send '%1': %2").arg(QFileInfo(path).fileName(), reason));
        return;
    }
    if (!bWhole) {
        // Larger than what may wait at the port: it goes piece by piece, as
        // the port takes it.
        if (!m_port.IsOpen()) {
            AfxMessageBeep();
            return;
        }
        m_pFileSend->Sent(nSize, 0, path);
        return;
    }

    std::lock_guard<std::recursive_mutex> guard(m_lock);
    const int nSent = m_port.Write(content); // shares the bytes: the file is held once
    if (nSent < 0) {
        AfxMessageBeep();
        return;
    }
    m_nTxCount += nSent;
    m_bEchoPending = true;
    UpdateStatusBar();
    if (IsLocalEchoChecked())
        AppendText(nSent == content.size() ? content : content.left(nSent));

    // The port drains the bytes on its own thread; the last part of the
    // status bar follows its progress, over every file still draining. What
    // the port's queue could not take yet follows from the file.
    m_pFileSend->Sent(content.size(), nSent, path);
}

qint64 CTerminalDlg::SendFilePiece(const QByteArray& piece)
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    const int nSent = m_port.Write(piece.constData(), int(piece.size()));
    if (nSent <= 0)
        return nSent;
    m_nTxCount += nSent;
    m_bEchoPending = true;
    UpdateStatusBar();
    // Echoed in parts no longer than one trim, so that the buffer stays
    // within its limit however long the file is.
    if (IsLocalEchoChecked()) {
        for (int nFrom = 0; nFrom < nSent; nFrom += ReceiveBuffer::kTrim)
            AppendText(piece.mid(nFrom, qMin(ReceiveBuffer::kTrim, nSent - nFrom)));
    }
    return nSent;
}
