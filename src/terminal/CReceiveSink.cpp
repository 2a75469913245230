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
    OnReceiveTimed(block, KrBlockTimes(KrTimeStamp::Now()));
}

void CReceiveSink::OnReceiveTimed(const QByteArray& block, const KrBlockTimes& times)
{
    // While the counter data runs, received blocks are only logged.
    if (!m_pOwner->IsCounterRunning())
        m_pOwner->AppendReceived(block, times);
    if (m_pOwner->IsLogInputChecked())
        m_log.Write(block, times);
}

void CReceiveSink::OnPortStatus(const CKrCommPortStatus& status)
{
    if (m_pNext)
        m_pNext->OnPortStatus(status);
}

void CReceiveSink::OnPortEvent(const KrPortEvent& event)
{
    m_pOwner->AppendPortEvent(event);
    if (m_pOwner->IsLogInputChecked())
        m_log.WriteEvent(event);
}

bool CReceiveSink::WriteInputLog(const char* pData, int nLength)
{
    return m_log.Write(pData, nLength);
}

bool CReceiveSink::WriteInputLog(const QByteArray& block)
{
    return m_log.Write(block);
}
