#pragma once
// A TCP connection to a serial server. socket://HOST:PORT passes the bytes
// as they are; a protocol spoken over the connection (rfc2217://) is a layer
// that derives from this class and changes only what crosses the wire.
//
// Lives on its port's I/O thread and is only used from there. Nothing here
// waits: the connection is made, read and written through the socket's
// notifications, and its failures are reported to the sink.

#include "CKrCommBackend.h"

#include <QTcpSocket>
#include <deque>

class CKrCommSocketBackend : public CKrCommBackend
{
public:
    CKrCommSocketBackend(CKrCommBackendSink& sink, const QString& scheme);
    ~CKrCommSocketBackend() override;

    OpenResult Open(const CKrCommConfig& config, KrPortFailure* pFailure) override;
    void Close() override;
    qint64 Room() const override;
    void Send(const char* pData, qint64 nLength) override;
    KrPortFailure OpenTimedOut() const override;
    // A raw connection carries no lines; a protocol layer may.
    KrLines Lines() const override
    {
        return KrLines::None(QStringLiteral("not available on a raw TCP port"));
    }

protected:
    // The layer's part; called while connected.
    // The connection is up and data may flow.
    virtual void Connected(const CKrCommConfig&) {}
    // Bytes as they came over the wire.
    virtual void FromWire(const QByteArray& wire) { Deliver(wire); }
    // Data for the wire, appended to `wire`.
    virtual void ToWire(const char* pData, qint64 nLength, QByteArray& wire)
    {
        wire.append(pData, qsizetype(nLength));
    }
    // True while the other side asked for no more data.
    virtual bool IsHeld() const { return false; }

    // Hands received data to the port.
    void Deliver(const QByteArray& data);
    // Sends bytes of the protocol's own, which carry no data.
    void SendControl(const QByteArray& bytes);
    bool IsActive() const { return m_bActive; }

private:
    void OnConnected();
    void OnReadyRead();
    void OnBytesWritten(qint64 nWire);
    void OnError(QAbstractSocket::SocketError error);
    void Fail(const KrPortFailure& failure);

    // The data bytes whose wire bytes end at nWireEnd, so that the port hears
    // of its bytes as the wire takes them, whatever the protocol added.
    struct Mark
    {
        qint64 nWireEnd;
        qint64 nData;
    };

    QTcpSocket m_socket;
    QString m_strScheme;
    CKrCommConfig m_config;
    std::deque<Mark> m_marks;
    qint64 m_nWireQueued = 0;
    qint64 m_nWireDone = 0;
    bool m_bActive = false;    // between Open and Close or a failure
    bool m_bConnected = false; // and the connection is up
};
