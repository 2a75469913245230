#pragma once
// Files in memory for the XMODEM/YMODEM suites: a source that can end early
// or fail part-way, and a target that keeps every file with what the sender
// said of it and can fail a write. Test thread only.

#include "XferFiles.h"

#include <QList>

class CMemorySource : public CXferSource
{
public:
    CMemorySource(const QString& strName, const QByteArray& data, qint64 nModified = -1)
        : m_strName(strName), m_data(data), m_nSize(data.size()), m_nModified(nModified)
    {
    }
    // Claims nSize bytes whatever the data holds (a file that shrank).
    void SetClaimedSize(qint64 nSize) { m_nSize = nSize; }
    // Read fails once this many bytes were read.
    void FailAt(qint64 nAt) { m_nFailAt = nAt; }

    QString Name() const override { return m_strName; }
    qint64 Size() const override { return m_nSize; }
    qint64 ModifiedTime() const override { return m_nModified; }
    qint64 Read(char* p, qint64 nMax) override
    {
        if (m_nFailAt >= 0 && m_nPos >= m_nFailAt) {
            m_strError = QStringLiteral("cannot read %1: Input/output error").arg(m_strName);
            return -1;
        }
        const qint64 n = qMin<qint64>(nMax, m_data.size() - m_nPos);
        memcpy(p, m_data.constData() + m_nPos, size_t(n));
        m_nPos += n;
        return n;
    }
    QString Error() const override { return m_strError; }

private:
    QString m_strName;
    QByteArray m_data;
    qint64 m_nSize;
    qint64 m_nModified;
    qint64 m_nPos = 0;
    qint64 m_nFailAt = -1;
    QString m_strError;
};

class CMemoryTarget : public CXferTarget
{
public:
    struct SFile
    {
        QByteArray name; // as sent; "xmodem.bin" for a file sent without one
        qint64 nSize = -1;
        qint64 nModified = -1;
        QByteArray data;
        bool bCommitted = false;
        bool bDiscarded = false;
    };

    // A write fails once the files' bytes would pass this many.
    void FailAt(qint64 nAt) { m_nFailAt = nAt; }

    bool Begin(const QByteArray& baName, qint64 nSize, qint64 nModified, QString*) override
    {
        SFile file;
        file.name = baName.isEmpty() ? QByteArray("xmodem.bin") : baName;
        file.nSize = nSize;
        file.nModified = nModified;
        m_files.append(file);
        return true;
    }
    bool Write(const char* p, qint64 n, QString* pError) override
    {
        if (m_nFailAt >= 0 && m_nWritten + n > m_nFailAt) {
            *pError = QStringLiteral("cannot write %1: No space left on device")
                          .arg(QString::fromUtf8(m_files.last().name));
            return false;
        }
        m_files.last().data.append(p, qsizetype(n));
        m_nWritten += n;
        return true;
    }
    bool Commit(QString*) override
    {
        m_files.last().bCommitted = true;
        return true;
    }
    void Discard() override { m_files.last().bDiscarded = true; }
    QString StoredName() const override
    {
        return m_files.isEmpty() ? QString() : QString::fromUtf8(m_files.last().name);
    }

    QList<SFile> m_files;

private:
    qint64 m_nWritten = 0;
    qint64 m_nFailAt = -1;
};
