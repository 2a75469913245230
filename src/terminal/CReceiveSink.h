#pragma once
// The Terminal window's receiver: the port calls it, on the port's I/O
// thread, with every block it reads. It uses only the window's public
// operations.

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
    // The same block, whose bytes the buffer copies once and the log shares.
    void OnReceiveBlock(const QByteArray& block) override;

    // Hands the block to the day's log, whose own thread writes it; never
    // waits for the disk. Blocks that cannot be written wait in the log's
    // queue and go out, in order, once the file can be written. False when
    // bytes had to be dropped.
    bool WriteInputLog(const char* pData, int nLength);
    bool WriteInputLog(const QByteArray& block);

    CInputLog& InputLog() { return m_log; }

private:
    CTerminalDlg* m_pOwner = nullptr;
    CInputLog m_log;
};
