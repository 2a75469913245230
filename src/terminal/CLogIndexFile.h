#pragma once

#include <QString>
#include <QtGlobal>

// The timing index's file, open and held exclusively while the log's writer
// describes one run of blocks. The system calls live in
// CLogIndexFile_<platform>.cpp. Used on the input log's writer thread only.
class CLogIndexFile
{
public:
    CLogIndexFile() = default;
    ~CLogIndexFile();
    CLogIndexFile(const CLogIndexFile&) = delete;
    CLogIndexFile& operator=(const CLogIndexFile&) = delete;

    // Creates the file when missing and keeps an existing file's content.
    // Never waits; refuses a symbolic link ("is a symbolic link") and
    // anything but a regular file ("not a regular file").
    bool Open(const QString& strName);
    // -1 on failure.
    qint64 Size();
    // Reads up to nLength bytes at nOffset; how many were read, -1 on failure.
    qint64 ReadAt(qint64 nOffset, char* pData, qint64 nLength);
    bool Truncate(qint64 nSize);
    // Appends at the end; how many bytes reached the file.
    qint64 Append(const char* pData, qint64 nLength);
    void Close();
    bool IsOpen() const { return m_hFile != -1; }

    // The system's reason for the last failure.
    QString ErrorText() const { return m_strError; }

private:
    qintptr m_hFile = -1;
    QString m_strError;
};
