#include "CKrCommPort.h"

#include "CKrCommBackend.h"
#include "CKrCommPortThread.h"

CKrCommPort::CKrCommPort() : m_pThread(std::make_unique<CKrCommPortThread>(*this)) {}

CKrCommPort::~CKrCommPort()
{
    Shutdown();
}

void CKrCommPort::Serialize(CArchive& ar)
{
    // On load the configuration changes only when the whole record was read.
    SerializeConfig(ar, m_config);
}

bool CKrCommPort::Open()
{
    return m_pThread->Open(m_config);
}

void CKrCommPort::Close()
{
    m_pThread->Close();
}

bool CKrCommPort::IsOpen() const
{
    return GetStatus().state == KrPortState::Open;
}

QString CKrCommPort::GetDescription() const
{
    return GetStatus().strDescription;
}

CKrCommPortStatus CKrCommPort::GetStatus() const
{
    // A closed port names the configuration it would open next.
    return m_pThread->Status(m_config);
}

void CKrCommPort::SetStateListener(CKrCommPortListener* pListener)
{
    m_pThread->SetListener(pListener);
}

void CKrCommPort::AddListener(CKrCommPortListener* pListener)
{
    m_pThread->AddListener(pListener);
}

bool CKrCommPort::SetLine(KrLine line, bool bOn)
{
    return m_pThread->RequestLine(KrLineRequest{KrLineRequest::Kind::Set, line, bOn, 0});
}

bool CKrCommPort::PulseLine(KrLine line, int nMs)
{
    return nMs > 0 &&
           m_pThread->RequestLine(KrLineRequest{KrLineRequest::Kind::Pulse, line, false, nMs});
}

bool CKrCommPort::SendBreak(int nMs)
{
    return nMs > 0 && m_pThread->RequestLine(
                          KrLineRequest{KrLineRequest::Kind::Break, KrLine::Break, true, nMs});
}

KrLines CKrCommPort::GetLines() const
{
    return m_pThread->Lines();
}

int CKrCommPort::Write(const char* pData, int nLength, int nStream)
{
    return m_pThread->Write(pData, nLength, nStream);
}

int CKrCommPort::Write(const QByteArray& data, int nStream)
{
    return m_pThread->Write(data, nStream);
}

qint64 CKrCommPort::DiscardPending(int nStream)
{
    return m_pThread->DiscardQueued(nStream);
}

qint64 CKrCommPort::TakeDroppedCount(int nStream)
{
    return m_pThread->TakeDropped(nStream);
}

bool CKrCommPort::WaitSettled(int nMaxMs)
{
    return m_pThread->WaitSettled(nMaxMs);
}

qint64 CKrCommPort::GetPendingCount() const
{
    return m_pThread->PendingCount();
}

QString CKrCommPort::GetLastError() const
{
    return GetStatus().strReason;
}

const CKrCommConfig& CKrCommPort::GetConfig() const
{
    return m_config;
}

void CKrCommPort::SetConfig(const CKrCommConfig& config)
{
    m_config = config;
}

void CKrCommPort::DeliverReceived(const QByteArray&, const KrBlockTimes&) {}

void CKrCommPort::Shutdown()
{
    m_pThread->Shutdown();
}

CKrCommPortEx::~CKrCommPortEx()
{
    // Before the receiver pointer and this class's DeliverReceived go away.
    Shutdown();
}

void CKrCommPortEx::DeliverReceived(const QByteArray& block, const KrBlockTimes& times)
{
    if (m_pReceiver)
        m_pReceiver->OnReceive(block, times);
}
