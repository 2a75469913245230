// The Terminal window's Send Text File command.

#include "Afx.h"
#include "CStatusBarCtrl.h"
#include "CTerminalDlg.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <climits>
#include <new>

namespace {

// Reads the whole file; false with the reason when it cannot be read.
bool ReadWholeFile(const QString& path, QByteArray& content, QString& reason)
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
    const qint64 nSize = file.size();
    if (nSize > INT_MAX) {
        reason = QStringLiteral("the file is too large to send in one piece (%1 bytes)")
                     .arg(QLocale::c().toString(nSize));
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
    const QString path = AfxGetOpenFileName(this);
    if (path.isEmpty())
        return;

    // Read, and complain, before the lock is taken: the port's thread must
    // be able to go on receiving while the file is read or a message shows.
    QByteArray content;
    QString reason;
    if (!ReadWholeFile(path, content, reason)) {
        AfxMessageBox(QStringLiteral("Cannot send '%1': %2").arg(QFileInfo(path).fileName(), reason));
        return;
    }

    std::lock_guard<std::recursive_mutex> guard(m_lock);
    const int nSent = m_port.Write(content.constData(), int(content.size()));
    if (nSent < 0) {
        AfxMessageBeep();
        return;
    }
    m_nTxCount += nSent;
    m_bEchoPending = true;
    UpdateStatusBar();
    if (IsLocalEchoChecked())
        AppendText(content);

    // The port drains the bytes on its own thread; the last part of the
    // status bar follows its progress, over every file still draining.
    m_nSendTotal = m_sendProgressTimer.isActive() ? m_nSendTotal + nSent : nSent;
    if (nSent > 0) {
        UpdateSendProgress();
        m_sendProgressTimer.start();
    }
}

void CTerminalDlg::UpdateSendProgress()
{
    const qint64 nPending = m_port.GetPendingCount();
    if (nPending <= 0 || !m_port.IsOpen()) {
        m_sendProgressTimer.stop();
        if (m_wndStatusBar)
            m_wndStatusBar->SetText(3, QString());
        return;
    }
    const qint64 nDone = qBound<qint64>(0, m_nSendTotal - nPending, m_nSendTotal);
    if (m_wndStatusBar)
        m_wndStatusBar->SetText(3, QStringLiteral("Sending %1 / %2")
                                       .arg(QLocale(QLocale::English).toString(nDone),
                                            QLocale(QLocale::English).toString(m_nSendTotal)));
}
