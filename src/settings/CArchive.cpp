#include "CArchive.h"

#include <QIODevice>
#include <QtEndian>

#include <cstring>
#include <limits>

CArchive::CArchive(QIODevice* pFile, Mode nMode, int nBufSize)
    : m_pFile(pFile), m_nMode(nMode), m_nBufSize(nBufSize > 0 ? nBufSize : 4096)
{
    m_buf.reserve(m_nBufSize);
}

CArchive::~CArchive() = default;

void CArchive::Write(const void* pBuf, int nCount)
{
    if (!IsStoring())
        throw CArchiveException(QStringLiteral("cannot write to an archive that is loading"));
    if (m_bClosed)
        throw CArchiveException(QStringLiteral("the archive is closed"));
    if (nCount < 0 || (nCount > 0 && !pBuf))
        throw CArchiveException(QStringLiteral("invalid write of %1 bytes").arg(nCount));
    const char* p = static_cast<const char*>(pBuf);
    while (nCount > 0) {
        const int n = qMin(nCount, m_nBufSize - int(m_buf.size()));
        m_buf.append(p, n);
        p += n;
        nCount -= n;
        if (m_buf.size() >= m_nBufSize)
            FlushStore();
    }
}

void CArchive::Read(void* pBuf, int nCount)
{
    if (!IsLoading())
        throw CArchiveException(QStringLiteral("cannot read from an archive that is storing"));
    if (m_bClosed)
        throw CArchiveException(QStringLiteral("the archive is closed"));
    if (nCount < 0 || (nCount > 0 && !pBuf))
        throw CArchiveException(QStringLiteral("invalid read of %1 bytes").arg(nCount));
    char* p = static_cast<char*>(pBuf);
    while (nCount > 0) {
        if (m_nPos >= m_buf.size()) {
            FillLoad();
            if (m_buf.isEmpty())
                throw CArchiveException(QStringLiteral("unexpected end of file"));
        }
        const int n = qMin(nCount, int(m_buf.size()) - m_nPos);
        std::memcpy(p, m_buf.constData() + m_nPos, size_t(n));
        m_nPos += n;
        p += n;
        nCount -= n;
    }
}

int CArchive::Peek(void* pBuf, int nMax)
{
    if (!IsLoading())
        throw CArchiveException(QStringLiteral("cannot read from an archive that is storing"));
    if (m_bClosed)
        throw CArchiveException(QStringLiteral("the archive is closed"));
    if (nMax < 0 || (nMax > 0 && !pBuf))
        throw CArchiveException(QStringLiteral("invalid read of %1 bytes").arg(nMax));
    // What is left of the buffer moves to its front, and more is read behind
    // it until nMax bytes are there (the buffer may grow past its size).
    m_buf.remove(0, m_nPos);
    m_nPos = 0;
    while (m_buf.size() < nMax) {
        if (!m_pFile || !m_pFile->isReadable())
            throw CArchiveException(QStringLiteral("the file is not open for reading"));
        const int nHad = int(m_buf.size());
        m_buf.resize(nHad + m_nBufSize);
        const qint64 n = m_pFile->read(m_buf.data() + nHad, m_nBufSize);
        m_buf.resize(nHad + int(qMax<qint64>(0, n)));
        if (n < 0)
            throw CArchiveException(QStringLiteral("read error: %1").arg(m_pFile->errorString()));
        if (n == 0)
            break;
    }
    const int n = qMin(nMax, int(m_buf.size()));
    std::memcpy(pBuf, m_buf.constData(), size_t(n));
    return n;
}

CArchive& CArchive::operator<<(quint32 v)
{
    uchar b[4];
    qToLittleEndian(v, b);
    Write(b, 4);
    return *this;
}

CArchive& CArchive::operator<<(qint32 v)
{
    return *this << quint32(v);
}

CArchive& CArchive::operator<<(quint8 v)
{
    Write(&v, 1);
    return *this;
}

CArchive& CArchive::operator<<(const QByteArray& s)
{
    if (s.size() > std::numeric_limits<qint32>::max())
        throw CArchiveException(QStringLiteral("string too long to store"));
    *this << quint32(s.size());
    Write(s.constData(), int(s.size()));
    return *this;
}

CArchive& CArchive::operator>>(quint32& v)
{
    uchar b[4];
    Read(b, 4);
    v = qFromLittleEndian<quint32>(b);
    return *this;
}

CArchive& CArchive::operator>>(qint32& v)
{
    quint32 u;
    *this >> u;
    v = qint32(u);
    return *this;
}

CArchive& CArchive::operator>>(quint8& v)
{
    Read(&v, 1);
    return *this;
}

void CArchive::ReadString(QByteArray& s, int nMax)
{
    quint32 n;
    *this >> n;
    if (nMax < 0 || n > quint32(nMax))
        throw CArchiveException(
            QStringLiteral("string of %1 bytes is longer than the %2 allowed").arg(n).arg(nMax));
    QByteArray tmp(int(n), Qt::Uninitialized);
    Read(tmp.data(), int(n));
    s = tmp;
}

bool CArchive::AtEnd()
{
    if (!IsLoading() || m_bClosed)
        return true;
    if (m_nPos < m_buf.size())
        return false;
    FillLoad();
    return m_buf.isEmpty();
}

void CArchive::Close()
{
    if (m_bClosed)
        return;
    // Marked closed first: a failed flush must not be retried by a second Close.
    m_bClosed = true;
    if (IsStoring())
        FlushStore();
}

void CArchive::FlushStore()
{
    if (m_buf.isEmpty())
        return;
    if (!m_pFile || !m_pFile->isWritable())
        throw CArchiveException(QStringLiteral("the file is not open for writing"));
    const qint64 n = m_pFile->write(m_buf);
    if (n != m_buf.size()) {
        const QString why = m_pFile->errorString();
        m_buf.clear();
        throw CArchiveException(QStringLiteral("write error: %1").arg(why));
    }
    m_buf.clear();
}

void CArchive::FillLoad()
{
    m_buf.clear();
    m_nPos = 0;
    if (!m_pFile || !m_pFile->isReadable())
        throw CArchiveException(QStringLiteral("the file is not open for reading"));
    m_buf.resize(m_nBufSize);
    const qint64 n = m_pFile->read(m_buf.data(), m_nBufSize);
    if (n < 0) {
        m_buf.clear();
        throw CArchiveException(QStringLiteral("read error: %1").arg(m_pFile->errorString()));
    }
    m_buf.resize(int(n));
}
