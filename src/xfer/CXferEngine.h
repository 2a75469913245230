#pragma once
// The common ground of the XMODEM/YMODEM sender and receiver: the end and its
// message, the progress, the next deadline, the other side's cancel (two or
// more CAN in a row) and the user's.
//
// An engine has no timer, clock or I/O of its own. The caller feeds what the
// line brought (Receive), sends what the engine appends to *pOut, passes the
// current monotonic time in milliseconds into every call and calls Tick()
// once NextDeadline() has come. Every wait of the engine ends by a deadline,
// so a transfer ends in bounded time whatever the other side does.
//
// Any single thread; not thread-safe.

#include "XferProtocol.h"

#include <QByteArray>
#include <QString>

#include <limits>

class CXferEngine
{
public:
    static constexpr qint64 kNoDeadline = std::numeric_limits<qint64>::max();

    virtual ~CXferEngine() = default;
    CXferEngine(const CXferEngine&) = delete;
    CXferEngine& operator=(const CXferEngine&) = delete;

    // Begins the transfer: a receiver appends its first request.
    virtual void Start(qint64 nNowMs, QByteArray* pOut) = 0;
    // Bytes that came from the line, in any pieces. Once finished they only
    // matter while WantsBytes() (see Cancel).
    virtual void Receive(const char* p, qsizetype n, qint64 nNowMs, QByteArray* pOut) = 0;
    void Receive(const QByteArray& ba, qint64 nNowMs, QByteArray* pOut)
    {
        Receive(ba.constData(), ba.size(), nNowMs, pOut);
    }
    // Lets the time pass: acts on a deadline that has come (a request again,
    // a block again, the end). Harmless at any other time.
    void Tick(qint64 nNowMs, QByteArray* pOut);
    // The monotonic time at which Tick() must be called next; kNoDeadline
    // once finished.
    qint64 NextDeadline() const { return IsFinished() ? kNoDeadline : m_nDeadline; }

    // The user's cancel: CAN CAN ... and as many backspaces go out, and the
    // transfer ends as Cancelled. Nothing happens once finished. A receiver
    // that discards its input right after it answers may miss the cancel if
    // it came with a block: for nAnswerMs more, the first bytes the other
    // side sends get the cancel once more. Feed them in while WantsBytes().
    void Cancel(qint64 nNowMs, QByteArray* pOut);
    // True while received bytes must still be fed in: while running, and
    // for a while after the user's cancel.
    bool WantsBytes(qint64 nNowMs) const { return !IsFinished() || nNowMs < m_nEchoUntilMs; }

    bool IsFinished() const { return m_eEnd != XferEnd::Running; }
    XferEnd End() const { return m_eEnd; }
    // Why it ended, in plain words: "sent firmware.bin, 1,048,576 bytes",
    // "the receiver cancelled the transfer at block 37 of firmware.bin", ...
    // Empty while running.
    QString Message() const { return m_strMessage; }
    const CXferProgress& Progress() const { return m_progress; }

protected:
    explicit CXferEngine(XferProtocol eProtocol, const CXferTimings& timings);

    // A deadline came (Tick); the engine is still running.
    virtual void OnDeadline(qint64 nNowMs, QByteArray* pOut) = 0;
    // The transfer ends otherwise than well: a file being received is
    // discarded.
    virtual void OnAbort() {}

    void SetDeadline(qint64 nMs) { m_nDeadline = nMs; }
    // Bytes that came after the end: answered with the cancel again once if
    // the user's cancel may have been missed. True when the engine has ended
    // (and the bytes are dealt with).
    bool EndedReceive(const char* p, qsizetype n, qint64 nNowMs, QByteArray* pOut);
    // Counts a CAN (true) or another byte (false); true once the other side
    // has sent two CAN in a row.
    bool CountCan(char c);
    void Finish(XferEnd eEnd, const QString& strMessage);
    // Ends as Failed without a word to the other side (which cancelled or is
    // silent).
    void Fail(const QString& strMessage);
    // Ends as Failed and tells the other side so with CAN CAN ...
    void Abort(const QString& strMessage, QByteArray* pOut);
    // " in 37.1 s, 2 retries": how long the transfer took by nNowMs, and its
    // retries when there were any.
    QString TimeAndRetries(qint64 nNowMs) const;
    static void AppendCancel(QByteArray* pOut);
    void NoteStarted(qint64 nNowMs)
    {
        if (m_progress.nStartMs < 0)
            m_progress.nStartMs = nNowMs;
    }

    XferProtocol m_eProtocol;
    CXferTimings m_timings;
    CXferProgress m_progress;

private:
    qint64 m_nDeadline = kNoDeadline;
    qint64 m_nEchoUntilMs = -1; // after the user's cancel: when the cancel is no more sent again
    int m_nCan = 0;
    XferEnd m_eEnd = XferEnd::Running;
    QString m_strMessage;
};
