#pragma once
// The port library: one port object, several back ends chosen by the port
// name (a serial device path, "loop://", and later network URLs). Nothing
// above this file knows which back end a port has.
//
// Threading: each port owns one I/O thread. Open and Close wait for that
// thread briefly; Write only queues bytes and never blocks. Received blocks are
// handed to DeliverReceived on the I/O thread. A port is destroyed from
// another thread than its own: its receiver may close it, never delete it.

#include "CKrCommConfig.h"
#include "CKrCommReceiver.h"

#include <QString>
#include <memory>

class CArchive;
class CKrCommPortThread;

class CKrCommPort
{
public:
    CKrCommPort();
    virtual ~CKrCommPort();
    CKrCommPort(const CKrCommPort&) = delete;
    CKrCommPort& operator=(const CKrCommPort&) = delete;

    // Stores the whole configuration, or loads it back. A load validates
    // every field and throws CArchiveException on a short, truncated or
    // garbage file; the configuration is then unchanged.
    virtual void Serialize(CArchive& ar);

    // Starts communication with the current configuration. False on failure;
    // the reason stays available through GetLastError and GetDescription.
    virtual bool Open();
    // Stops communication. Bytes still queued for writing are dropped.
    virtual void Close();

    bool IsOpen() const;

    // One line: the port and its settings ("/dev/ttyUSB0 115200,8,N,1") and,
    // when the port is not open, why ("... - not open: no such device").
    QString GetDescription() const;

    // Queues bytes for the port; they leave in order. nLength -1 means up to
    // the terminating zero byte. Returns the number of bytes accepted (0 for
    // any other negative length), or -1 when the port is not open. Safe from
    // any thread.
    int Write(const char* pData, int nLength);

    // Bytes accepted by Write that have not yet been handed to the device.
    qint64 GetPendingCount() const;

    // The reason of the last failed Open, or of a failure while open, in plain
    // words ("permission denied - is the user in the dialout group?"); empty
    // when there is none.
    QString GetLastError() const;

    const CKrCommConfig& GetConfig() const;
    // Takes effect at the next Open.
    void SetConfig(const CKrCommConfig& config);

protected:
    // Called on the I/O thread for each block read.
    virtual void DeliverReceived(const char* pData, int nLength);
    // Ends the I/O thread; after it returns DeliverReceived is never called
    // again. Derived classes call it first in their destructors.
    void Shutdown();

private:
    friend class CKrCommPortThread;
    std::unique_ptr<CKrCommPortThread> m_pThread;
    CKrCommConfig m_config;
};

class CKrCommPortEx : public CKrCommPort
{
public:
    CKrCommPortEx() = default;
    ~CKrCommPortEx() override;

    // Where received blocks go. Set once, before the port is opened.
    CKrCommReceiver* m_pReceiver = nullptr;

protected:
    void DeliverReceived(const char* pData, int nLength) override;
};
