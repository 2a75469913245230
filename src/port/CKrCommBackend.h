#pragma once
// What the port object needs from one kind of port: a serial device, the
// loopback, later network connections. A back end lives on its port's I/O
// thread and is only ever used from there.
//
// Adding a kind of port: a class derived from CKrCommBackend in a file of its
// own, its factory function declared below, and one row in the table in
// CKrCommBackend.cpp.

#include "CKrCommConfig.h"

#include <QObject>
#include <QStringList>
#include <memory>

// How a back end reports to its port; called on the I/O thread.
class CKrCommBackendSink
{
public:
    // A block read from the device.
    virtual void BackendReceived(const char* pData, int nLength) = 0;
    // nCount bytes given to Send have now reached the device.
    virtual void BackendWritten(qint64 nCount) = 0;
    // The back end can take more bytes (Room grew).
    virtual void BackendReady() = 0;
    // The open port failed (device removed, I/O error); it is not open any
    // more. `why` is in plain words.
    virtual void BackendFailed(const QString& why) = 0;

protected:
    ~CKrCommBackendSink() = default;
};

class CKrCommBackend : public QObject
{
public:
    explicit CKrCommBackend(CKrCommBackendSink& sink) : m_sink(sink) {}
    ~CKrCommBackend() override = default;

    // Opens the port with the configuration; false with the reason in plain
    // words.
    virtual bool Open(const CKrCommConfig& config, QString* why) = 0;
    // After Close the back end makes no more calls to its sink.
    virtual void Close() = 0;
    // How many bytes Send may take now; 0 when the back end is full.
    virtual qint64 Room() const = 0;
    // Hands bytes on; the back end reports them through BackendWritten once
    // they reached the device. Never more than Room().
    virtual void Send(const char* pData, qint64 nLength) = 0;

protected:
    CKrCommBackendSink& m_sink;
};

using KrBackendFactory = std::unique_ptr<CKrCommBackend> (*)(CKrCommBackendSink& sink);

// The factories, one per back end file.
std::unique_ptr<CKrCommBackend> KrCreateLoopBackend(CKrCommBackendSink& sink);
std::unique_ptr<CKrCommBackend> KrCreateSerialBackend(CKrCommBackendSink& sink);

// The back end for a port name: a URL ("loop://") by its scheme, anything
// without "://" is a serial device. Null, with the reason, for an unknown
// scheme.
std::unique_ptr<CKrCommBackend> KrCreateBackend(const QString& portName, CKrCommBackendSink& sink,
                                                QString* why);
// True when some back end takes the name.
bool KrIsKnownPortName(const QString& portName);
// The port names that exist without hardware ("loop://"), offered in the
// configuration dialog beside the serial devices found.
QStringList KrFixedPortNames();
// What a fixed port name is, in a few words; empty for other names.
QString KrFixedPortDescription(const QString& name);
