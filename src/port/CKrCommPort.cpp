#include "CKrCommPort.h"

#include "CArchive.h"
#include "CKrCommBackend.h"
#include "CKrCommPortThread.h"

namespace {

// "KRPC" in the file.
constexpr quint32 kMagic = 0x4350524B;
constexpr quint32 kVersion = 1;

} // namespace

CKrCommPort::CKrCommPort() : m_pThread(std::make_unique<CKrCommPortThread>(*this)) {}

CKrCommPort::~CKrCommPort()
{
    Shutdown();
}

void CKrCommPort::Serialize(CArchive& ar)
{
    if (ar.IsStoring()) {
        ar << kMagic << kVersion << m_config.strPort.toUtf8() << m_config.nBaud
           << quint8(m_config.nDataBits) << quint8(m_config.parity) << quint8(m_config.stopBits)
           << quint8(m_config.flow);
        return;
    }

    quint32 nMagic = 0;
    quint32 nVersion = 0;
    ar >> nMagic;
    if (nMagic != kMagic)
        throw CArchiveException(QStringLiteral("not a port configuration"));
    ar >> nVersion;
    if (nVersion != kVersion)
        throw CArchiveException(
            QStringLiteral("port configuration version %1 is not known").arg(nVersion));
    QByteArray port;
    ar.ReadString(port, CKrCommConfig::kMaxPortNameBytes);
    qint32 nBaud = 0;
    quint8 nData = 0, nParity = 0, nStop = 0, nFlow = 0;
    ar >> nBaud >> nData >> nParity >> nStop >> nFlow;

    CKrCommConfig config;
    config.strPort = QString::fromUtf8(port);
    if (config.strPort.toUtf8() != port)
        throw CArchiveException(QStringLiteral("port name is not valid text"));
    config.nBaud = nBaud;
    config.nDataBits = nData;
    config.parity = KrParity(nParity);
    config.stopBits = KrStopBits(nStop);
    config.flow = KrFlow(nFlow);
    QString why;
    if (!config.IsValid(&why))
        throw CArchiveException(why);
    m_config = config;
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
        m_pReceiver->OnReceiveTimed(block, times);
}
