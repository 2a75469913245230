#include "CReceiveSink.h"

#include "CTerminalDlg.h"

CReceiveSink::CReceiveSink() = default;
CReceiveSink::~CReceiveSink() = default;

void CReceiveSink::OnReceive(const char* pData, int nLength)
{
    OnReceiveBlock(QByteArray(pData, qMax(0, nLength)));
}

void CReceiveSink::OnReceiveBlock(const QByteArray& block)
{
    // While the counter data runs, received blocks are only logged.
    if (!m_pOwner->IsCounterRunning())
        m_pOwner->AppendText(block);
    if (m_pOwner->IsLogInputChecked())
        WriteInputLog(block);
}

bool CReceiveSink::WriteInputLog(const char* pData, int nLength)
{
    return m_log.Write(pData, nLength);
}

bool CReceiveSink::WriteInputLog(const QByteArray& block)
{
    return m_log.Write(block);
}
