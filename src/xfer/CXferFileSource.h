#pragma once
// A file on disk to send: a regular file (a link to one is followed), read
// piece by piece as the blocks go. Its size is taken when it is opened; that
// many bytes are sent, and a file that shrinks meanwhile ends the transfer.
//
// Any single thread (reads can wait for the disk); not thread-safe.

#include "XferFiles.h"

#include <QFile>

class CXferFileSource : public CXferSource
{
public:
    CXferFileSource() = default;
    CXferFileSource(const CXferFileSource&) = delete;
    CXferFileSource& operator=(const CXferFileSource&) = delete;

    // Opens strPath; false with the reason in *pError, naming the file.
    bool Open(const QString& strPath, QString* pError);

    QString Name() const override { return m_strName; }
    qint64 Size() const override { return m_nSize; }
    qint64 ModifiedTime() const override { return m_nModified; }
    qint64 Mode() const override { return m_nMode; }
    qint64 Read(char* p, qint64 nMax) override;
    QString Error() const override { return m_strError; }

private:
    QFile m_file;
    QString m_strName;
    qint64 m_nSize = 0;
    qint64 m_nModified = -1;
    qint64 m_nMode = -1;
    QString m_strError;
};
