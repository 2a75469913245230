#pragma once
// What the port object needs from one kind of port: a serial device, the
// loopback, a network connection. A back end lives on its port's I/O thread
// and is only ever used from there.
//
// Adding a kind of port: a class derived from CKrCommBackend in a file of its
// own, its factory declared below and named in the table in
// CKrCommBackend.cpp, and a row for its name's form in KrPortKinds.cpp.

#include "CKrCommConfig.h"
#include "CKrCommPortStatus.h"
#include "KrModemControl.h"
#include "KrPortKinds.h"

#include <QByteArray>
#include <QObject>
#include <QStringList>
#include <memory>

// How a back end reports to its port; called on the I/O thread.
class CKrCommBackendSink
{
public:
    // An open that Open() left pending has succeeded.
    virtual void BackendOpened() = 0;
    // A block read from the device; the port shares its bytes rather than
    // copying them.
    virtual void BackendReceived(const QByteArray& block) = 0;
    // nCount bytes given to Send have now reached the device.
    virtual void BackendWritten(qint64 nCount) = 0;
    // The back end can take more bytes (Room grew).
    virtual void BackendReady() = 0;
    // A pending open failed, or the open port failed (device removed,
    // connection dropped). Either way the back end is not open any more and
    // makes no further calls.
    virtual void BackendFailed(const KrPortFailure& failure) = 0;
    // What Note() returns has changed.
    virtual void BackendNoteChanged() = 0;
    // What Lines() returns has changed by itself (an input line moved, the
    // server told its lines).
    virtual void BackendLinesChanged() = 0;

protected:
    ~CKrCommBackendSink() = default;
};

class CKrCommBackend : public QObject
{
public:
    enum class OpenResult
    {
        Opened,
        Pending, // BackendOpened or BackendFailed follows
        Failed
    };

    explicit CKrCommBackend(CKrCommBackendSink& sink) : m_sink(sink) {}
    ~CKrCommBackend() override = default;

    // Opens the port with the configuration. Never waits for the device or the
    // network: what takes time finishes later and is reported to the sink.
    virtual OpenResult Open(const CKrCommConfig& config, KrPortFailure* pFailure) = 0;
    // Discards whatever waits to be written and closes at once. After Close the
    // back end makes no more calls to its sink.
    virtual void Close() = 0;
    // How many bytes Send may take now; 0 when the back end is full.
    virtual qint64 Room() const = 0;
    // Hands bytes on; the back end reports them through BackendWritten once
    // they reached the device. Never more than Room().
    virtual void Send(const char* pData, qint64 nLength) = 0;
    // Reports to the sink (BackendWritten) what it has handed to the system
    // and not yet reported: a device may take bytes well before it says so.
    // Called before Close, so that only what was never written counts as
    // dropped.
    virtual void ReportWritten() {}
    // Something the open port's description should add ("server does not
    // support RFC 2217"); empty for nothing.
    virtual QString Note() const { return QString(); }
    // The control lines as the back end knows them now. By default a kind of
    // port has none.
    virtual KrLines Lines() const
    {
        return KrLines::None(QStringLiteral("not available on this kind of port"));
    }
    // Sets DTR or RTS, or begins (bOn) or ends the break condition, at once.
    // False when the back end cannot; what the device refused then shows in
    // Lines().strNote. Only for a line that Lines() has.
    virtual bool SetLine(KrLine line, bool bOn)
    {
        Q_UNUSED(line);
        Q_UNUSED(bOn);
        return false;
    }
    // The failure reported when a pending open has not finished within the
    // limit of its kind of port.
    virtual KrPortFailure OpenTimedOut() const
    {
        return KrPortFailure{KrPortError::NoAnswer, QStringLiteral("no answer")};
    }

protected:
    CKrCommBackendSink& m_sink;
};

using KrBackendFactory = std::unique_ptr<CKrCommBackend> (*)(CKrCommBackendSink& sink);

// The factories, one per back end file.
std::unique_ptr<CKrCommBackend> KrCreateLoopBackend(CKrCommBackendSink& sink);
std::unique_ptr<CKrCommBackend> KrCreateSerialBackend(CKrCommBackendSink& sink);
std::unique_ptr<CKrCommBackend> KrCreateSocketBackend(CKrCommBackendSink& sink);
std::unique_ptr<CKrCommBackend> KrCreateRfc2217Backend(CKrCommBackendSink& sink);
// A serial back end whose modem-control calls come from `makeModem` (a fake,
// in tests) rather than from the system.
std::unique_ptr<CKrCommBackend> KrCreateSerialBackendWith(CKrCommBackendSink& sink,
                                                          KrModemControlFactory makeModem);

// The back end for a port name: a URL ("loop://") by its scheme, anything
// without "://" is a serial device (KrPortKinds.h). Null, with the reason, for
// an unknown scheme.
std::unique_ptr<CKrCommBackend> KrCreateBackend(const QString& portName, CKrCommBackendSink& sink,
                                                QString* why);
