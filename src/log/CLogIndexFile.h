#pragma once

#include "CInputLogFile.h"

// The timing index's file, open and held exclusively while the log's writer
// describes one run of blocks: a log file that can also be read and cut
// short. The system calls live in CLogIndexFile_<platform>.cpp. Used on the
// input log's writer thread only.
class CLogIndexFile : public CInputLogFile
{
public:
    // As the log's file opens.
    bool Open(const QString& strName) { return OpenFor(strName, true); }
    // Reads up to nLength bytes at nOffset; how many were read, -1 on failure.
    qint64 ReadAt(qint64 nOffset, char* pData, qint64 nLength);
    bool Truncate(qint64 nSize);
};
