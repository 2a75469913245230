#include "CReceiveSink.h"

#include "CTerminalDlg.h"

CReceiveSink::CReceiveSink() = default;
CReceiveSink::~CReceiveSink() = default;

void CReceiveSink::OnReceive(const char* pData, int nLength)
{
    // While the counter data runs, received blocks are only logged.
    if (!m_pOwner->m_bCounterRunning.load())
        m_pOwner->AppendText(QByteArray(pData, nLength));
    if (m_pOwner->IsLogInputChecked())
        WriteInputLog(pData, nLength);
}

bool CReceiveSink::WriteInputLog(const char* pData, int nLength)
{
    return m_log.Write(pData, nLength);
}
