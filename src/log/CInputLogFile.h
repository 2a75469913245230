#pragma once

#include <QString>
#include <QtGlobal>

// One log file, open and held exclusively for the length of one write. The
// system calls live in CInputLogFile_<platform>.cpp. Used on the input log's
// writer thread only.
class CInputLogFile
{
public:
    CInputLogFile() = default;
    ~CInputLogFile();
    CInputLogFile(const CInputLogFile&) = delete;
    CInputLogFile& operator=(const CInputLogFile&) = delete;

    // Creates the file when missing and keeps an existing file's content.
    // Never waits: fails at once when another holder has the file. Refuses a
    // symbolic link under the name ("is a symbolic link") and anything but a
    // regular file ("not a regular file"), such as a FIFO or a device.
    bool Open(const QString& strName) { return OpenFor(strName, false); }
    // Appends at the end of the file. Returns how many bytes reached it: less
    // than nLength only on failure, with the reason in ErrorText().
    qint64 Append(const char* pData, qint64 nLength);
    // The file's size now; -1 on failure. The next Append lands there.
    qint64 Size();
    void Close();
    bool IsOpen() const { return m_hFile != -1; }

    // The system's reason for the last failure.
    QString ErrorText() const { return m_strError; }

protected:
    // Open(), and when bReadable the file may also be read and cut short.
    bool OpenFor(const QString& strName, bool bReadable);

    qintptr m_hFile = -1;
    QString m_strError;
};
