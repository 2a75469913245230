#include "CXferFileSource.h"

#include <QDateTime>
#include <QFileInfo>

namespace {

// Qt's permissions as the usual mode bits of a regular file (0100644).
qint64 ModeOf(QFileDevice::Permissions perms)
{
    qint64 nMode = 0100000;
    const struct
    {
        QFileDevice::Permission perm;
        int nBit;
    } bits[] = {{QFileDevice::ReadOwner, 0400}, {QFileDevice::WriteOwner, 0200},
                {QFileDevice::ExeOwner, 0100},  {QFileDevice::ReadGroup, 040},
                {QFileDevice::WriteGroup, 020}, {QFileDevice::ExeGroup, 010},
                {QFileDevice::ReadOther, 04},   {QFileDevice::WriteOther, 02},
                {QFileDevice::ExeOther, 01}};
    for (const auto& b : bits) {
        if (perms & b.perm)
            nMode |= b.nBit;
    }
    return nMode;
}

} // namespace

bool CXferFileSource::Open(const QString& strPath, QString* pError)
{
    const QFileInfo info(strPath);
    m_strName = info.fileName();
    if (!info.exists()) {
        *pError = QStringLiteral("cannot open %1: it does not exist").arg(strPath);
        return false;
    }
    // Checked before opening: a FIFO or a device would hold the open or
    // never end.
    if (!info.isFile()) {
        *pError = QStringLiteral("cannot send %1: it is not a regular file").arg(strPath);
        return false;
    }
    m_file.setFileName(strPath);
    if (!m_file.open(QIODevice::ReadOnly)) {
        *pError = QStringLiteral("cannot open %1: %2").arg(strPath, m_file.errorString());
        return false;
    }
    m_nSize = m_file.size();
    const QDateTime modified = info.lastModified();
    m_nModified = modified.isValid() ? modified.toSecsSinceEpoch() : -1;
    m_nMode = ModeOf(info.permissions());
    return true;
}

qint64 CXferFileSource::Read(char* p, qint64 nMax)
{
    const qint64 n = m_file.read(p, nMax);
    if (n < 0)
        m_strError =
            QStringLiteral("cannot read %1: %2").arg(m_file.fileName(), m_file.errorString());
    return n;
}
