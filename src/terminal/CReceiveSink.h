#pragma once
// The Terminal window's receiver: the port calls it, on the port's own
// thread, with every block it reads.

#include "CInputLog.h"
#include "CKrCommReceiver.h"

class CTerminalDlg;

class CReceiveSink : public CKrCommReceiver
{
public:
    CReceiveSink();
    ~CReceiveSink() override;

    void SetOwner(CTerminalDlg* pOwner) { m_pOwner = pOwner; }

    void OnReceive(const char* pData, int nLength) override;

    // Hands the block to the day's log, whose own thread writes it; never
    // waits for the disk. Blocks that cannot be written wait in the log's
    // queue and go out, in order, once the file can be written. False when
    // bytes had to be dropped.
    bool WriteInputLog(const char* pData, int nLength);

    CInputLog& InputLog() { return m_log; }

private:
    CTerminalDlg* m_pOwner = nullptr;
    CInputLog m_log;
};
