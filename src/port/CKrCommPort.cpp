#include "CKrCommPort.h"

#include "CArchive.h"
#include "CKrCommBackend.h"
#include "CKrCommPortThread.h"

#include <QtEndian>

namespace {

// "KRPC" in the file.
constexpr quint32 kMagic = 0x4350524B;
constexpr quint32 kVersion = 1;
// "KRLN": DTR and RTS at open follow the line settings under this tag. A
// configuration with both on (the behaviour before the fields existed) is
// stored without them, byte for byte as before.
constexpr quint32 kLinesTag = 0x4E4C524B;

bool ValidAtOpen(quint8 n)
{
    return n <= quint8(KrLineAtOpen::Keep);
}

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
        if (m_config.dtrAtOpen != KrLineAtOpen::On || m_config.rtsAtOpen != KrLineAtOpen::On)
            ar << kLinesTag << quint8(m_config.dtrAtOpen) << quint8(m_config.rtsAtOpen);
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
    // Bytes after the line settings were always left to the caller; only
    // the tag makes them the lines at open.
    uchar tag[4];
    if (ar.Peek(tag, 4) == 4 && qFromLittleEndian<quint32>(tag) == kLinesTag) {
        quint32 nTag = 0;
        quint8 nDtr = 0, nRts = 0;
        ar >> nTag >> nDtr >> nRts;
        if (!ValidAtOpen(nDtr) || !ValidAtOpen(nRts))
            throw CArchiveException(QStringLiteral("DTR or RTS at open: %1 or %2 is not one of "
                                                   "on, off, keep")
                                        .arg(nDtr)
                                        .arg(nRts));
        config.dtrAtOpen = KrLineAtOpen(nDtr);
        config.rtsAtOpen = KrLineAtOpen(nRts);
    }
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
        m_pReceiver->OnReceiveTimed(block, times);
}
