// socket://HOST:PORT: raw TCP, bytes both ways untouched.

#include "CKrCommSocketBackend.h"

#include "KrNetAddress.h"
#include "KrSocketTuning.h"

namespace {

// At most this much waits inside the socket, and is read from it at once.
constexpr qint64 kSocketBuffer = 64 * 1024;

KrPortFailure SocketFailure(QAbstractSocket::SocketError error, const QString& systemText)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return KrPortFailure{KrPortError::ConnectionRefused, QStringLiteral("connection refused")};
    case QAbstractSocket::HostNotFoundError:
        return KrPortFailure{KrPortError::HostNotFound, QStringLiteral("host not found")};
    case QAbstractSocket::SocketTimeoutError:
        return KrPortFailure{KrPortError::NoAnswer, QStringLiteral("no answer from host")};
    case QAbstractSocket::RemoteHostClosedError:
        return KrPortFailure{KrPortError::ConnectionClosed,
                             QStringLiteral("the server closed the connection")};
    default:
        break;
    }
    return KrPortFailure{KrPortError::NetworkError, systemText.isEmpty()
                                                        ? QStringLiteral("network error")
                                                        : systemText.toLower()};
}

} // namespace

CKrCommSocketBackend::CKrCommSocketBackend(CKrCommBackendSink& sink, const QString& scheme)
    : CKrCommBackend(sink), m_socket(this), m_strScheme(scheme)
{
    m_socket.setReadBufferSize(kSocketBuffer);
    connect(&m_socket, &QTcpSocket::connected, this, &CKrCommSocketBackend::OnConnected);
    connect(&m_socket, &QTcpSocket::readyRead, this, &CKrCommSocketBackend::OnReadyRead);
    connect(&m_socket, &QTcpSocket::bytesWritten, this, &CKrCommSocketBackend::OnBytesWritten);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &CKrCommSocketBackend::OnError);
    connect(&m_socket, &QTcpSocket::disconnected, this,
            [this] { Fail(SocketFailure(QAbstractSocket::RemoteHostClosedError, QString())); });
}

CKrCommSocketBackend::~CKrCommSocketBackend()
{
    Close();
}

CKrCommBackend::OpenResult CKrCommSocketBackend::Open(const CKrCommConfig& config,
                                                      KrPortFailure* pFailure)
{
    KrNetAddress address;
    QString why;
    if (!KrParseNetAddress(config.strPort, m_strScheme, &address, &why)) {
        *pFailure = KrPortFailure{KrPortError::InvalidSettings, why};
        return OpenResult::Failed;
    }
    m_config = config;
    m_bActive = true;
    m_socket.connectToHost(address.strHost, address.nPort);
    return OpenResult::Pending;
}

void CKrCommSocketBackend::Close()
{
    m_bActive = false;
    m_bConnected = false;
    // Drops what waits to be sent, in the socket and in the system, and ends
    // the connection at once.
    if (m_socket.socketDescriptor() != -1 && m_socket.state() == QAbstractSocket::ConnectedState)
        KrDropOnClose(m_socket.socketDescriptor());
    m_socket.abort();
    m_marks.clear();
}

qint64 CKrCommSocketBackend::Room() const
{
    if (!m_bConnected || IsHeld())
        return 0;
    return qMax<qint64>(0, kSocketBuffer - m_socket.bytesToWrite());
}

void CKrCommSocketBackend::Send(const char* pData, qint64 nLength)
{
    if (!m_bConnected || nLength <= 0)
        return;
    QByteArray wire;
    ToWire(pData, nLength, wire);
    m_socket.write(wire);
    m_nWireQueued += wire.size();
    m_marks.push_back(Mark{m_nWireQueued, nLength});
}

KrPortFailure CKrCommSocketBackend::OpenTimedOut() const
{
    return SocketFailure(QAbstractSocket::SocketTimeoutError, QString());
}

void CKrCommSocketBackend::Deliver(const QByteArray& data)
{
    if (m_bConnected && !data.isEmpty())
        m_sink.BackendReceived(data);
}

void CKrCommSocketBackend::SendControl(const QByteArray& bytes)
{
    if (!m_bConnected || bytes.isEmpty())
        return;
    m_socket.write(bytes);
    m_nWireQueued += bytes.size();
}

void CKrCommSocketBackend::OnConnected()
{
    if (!m_bActive)
        return;
    m_bConnected = true;
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // Little waits in the system, so that what counts as sent has left.
    m_socket.setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, int(kSocketBuffer));
    KrTuneKeepAlive(m_socket.socketDescriptor());
    Connected(m_config);
    if (m_bActive)
        m_sink.BackendOpened();
}

void CKrCommSocketBackend::OnReadyRead()
{
    if (!m_bConnected)
        return;
    // In blocks of at most the socket's buffer.
    while (m_bConnected && m_socket.bytesAvailable() > 0) {
        const QByteArray data = m_socket.read(kSocketBuffer);
        if (data.isEmpty())
            break;
        FromWire(data);
    }
}

void CKrCommSocketBackend::OnBytesWritten(qint64 nWire)
{
    if (!m_bConnected)
        return;
    m_nWireDone += nWire;
    qint64 nData = 0;
    while (!m_marks.empty() && m_marks.front().nWireEnd <= m_nWireDone) {
        nData += m_marks.front().nData;
        m_marks.pop_front();
    }
    if (nData > 0)
        m_sink.BackendWritten(nData);
    m_sink.BackendReady();
}

void CKrCommSocketBackend::OnError(QAbstractSocket::SocketError error)
{
    Fail(SocketFailure(error, m_socket.errorString()));
}

void CKrCommSocketBackend::Fail(const KrPortFailure& failure)
{
    if (!m_bActive)
        return;
    Close();
    m_sink.BackendFailed(failure);
}

std::unique_ptr<CKrCommBackend> KrCreateSocketBackend(CKrCommBackendSink& sink)
{
    return std::make_unique<CKrCommSocketBackend>(sink, QStringLiteral("socket"));
}
