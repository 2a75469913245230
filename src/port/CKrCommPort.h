#pragma once
// The port library: one port object, several back ends chosen by the port
// name (a serial device path, "loop://", "socket://HOST:PORT",
// "rfc2217://HOST:PORT"). Nothing above this file knows which back end a
// port has.
//
// Threading: each port owns one I/O thread. Open and Close return within
// about 150 ms whatever the device or the network does; what finishes later
// reaches the state listener. Write only queues bytes and never blocks.
// State changes reach the listener, and received blocks the receiver, on the
// I/O thread. A port is destroyed from another thread than its own: its
// receiver may close it, never delete it.
//
// While the port is wanted open (from Open until Close) and is not, because
// the device is absent or went away, or the server is down, the I/O thread
// tries again about once a second (network ports back off to 10 s), and
// follows a USB serial adapter that returns under another name.
//
// The control lines: DTR and RTS are set or pulsed, a break is sent, by
// requests that the I/O thread carries out in order; every change of a line,
// and each break's start and end, reaches the listeners with its time
// (OnPortLines). Each kind of port says which lines it has.

#include "CKrCommConfig.h"
#include "CKrCommPortStatus.h"
#include "CKrCommReceiver.h"
#include "CKrCommWriteQueue.h"

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

    // Starts communication with the current configuration. True when the
    // port is open on return; false when it failed (the reason stays
    // available through GetLastError and GetDescription) or is still opening
    // ("... - connecting"). Either way the port keeps trying until Close.
    virtual bool Open();
    // Stops communication and the retrying. Bytes still queued for writing,
    // and those in the device's own output queue, are dropped.
    virtual void Close();

    bool IsOpen() const;

    // One line: the port and its settings ("/dev/ttyUSB0 115200,8,N,1") and,
    // when the port is not open, why ("... - not open: no such device",
    // "... - connecting", "... - disconnected: the device was removed").
    QString GetDescription() const;
    // The state, the reason as a code and in words, and the description.
    CKrCommPortStatus GetStatus() const;
    // Hears about every change of GetStatus(), on the I/O thread. Set before
    // Open; the listener must outlive the port's thread (the port's
    // destruction or Shutdown).
    void SetStateListener(CKrCommPortListener* pListener);
    // One more listener beside it, on the same terms.
    void AddListener(CKrCommPortListener* pListener);

    // Sets DTR or RTS. False, and nothing done, when the port is not open or
    // has no such line; the outcome reaches the listeners. Any thread; never
    // waits.
    bool SetLine(KrLine line, bool bOn);
    // Turns DTR or RTS the other way for nMs milliseconds, then back. A pulse
    // while one of the same line lasts lengthens it; a SetLine ends it.
    bool PulseLine(KrLine line, int nMs = kDefaultPulseMs);
    // Sends a break: the transmit line held at space for nMs milliseconds.
    bool SendBreak(int nMs = kDefaultBreakMs);
    // The lines as the listeners last heard of them.
    KrLines GetLines() const;
    static constexpr int kDefaultPulseMs = 100;
    static constexpr int kDefaultBreakMs = 250;

    // Queues bytes for the port; they leave in order. nLength -1 means up to
    // the terminating zero byte. Returns the number of bytes accepted (0 for
    // any other negative length), or -1 when the port is not open. At most
    // kMaxQueued bytes wait: a write takes what fits and returns that count.
    // Safe from any thread.
    //
    // nStream (0 to kStreams - 1) marks whose bytes they are, so that a
    // writer can take its own back (DiscardPending) and tell its own among
    // those a close or a loss dropped (TakeDroppedCount).
    int Write(const char* pData, int nLength, int nStream = 0);
    // The same for bytes held in a byte array, which the queue shares rather
    // than copies when it takes them all.
    int Write(const QByteArray& data, int nStream = 0);
    static constexpr int kStreams = CKrCommWriteQueue::kStreams;

    // Bytes accepted by Write that have not yet been handed to the device.
    qint64 GetPendingCount() const;
    // Drops the bytes of one stream that wait in the port's own queue (what
    // was handed on to the device or its driver goes on, and so do other
    // streams' bytes); returns how many.
    qint64 DiscardPending(int nStream);
    // Bytes of a stream accepted by Write and then dropped unsent, because
    // the port was closed, reopened or lost meanwhile, since the last call
    // for that stream (one reader per stream).
    qint64 TakeDroppedCount(int nStream);
    // Waits, at most nMaxMs, until the I/O thread has carried out the last
    // Open or Close; true when it has. After a Close, every block read before
    // it has then reached the receiver. Returns at once when called from the
    // receiver itself.
    bool WaitSettled(int nMaxMs);

    // The reason of the last failed Open, or of a failure while open, in plain
    // words ("permission denied - is the user in the dialout group?"); empty
    // when there is none.
    QString GetLastError() const;

    static constexpr qint64 kMaxQueued = qint64(64) * 1024 * 1024;

    const CKrCommConfig& GetConfig() const;
    // Takes effect at the next Open.
    void SetConfig(const CKrCommConfig& config);

protected:
    // Called on the I/O thread for each block read, with the time it was
    // read; the bytes may be kept (shared) beyond the call.
    virtual void DeliverReceived(const QByteArray& block, const KrBlockTimes& times);
    // Ends the I/O thread; after it returns DeliverReceived and the listener
    // are never called again. It waits only for such a call in progress.
    // Derived classes call it first in their destructors.
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
    void DeliverReceived(const QByteArray& block, const KrBlockTimes& times) override;
};
