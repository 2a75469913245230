#pragma once
// lrzsz (sx, sb, rx, rb) as the other side of a transfer: the program with
// its standard input and output on pseudo-terminals of their own, joined to
// our side's descriptor by a proxy with a line's latency (XferProxy.h), and
// the short timings our engines use against it. Test thread.

#include "FileBytes.h"
#include "PtyPair.h"
#include "XferProtocol.h"
#include "XferProxy.h"

#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

// The line's latency each way: lrzsz discards its input right after each of
// its answers (and, as it ends, flushes its input terminal both ways); on a
// pseudo-terminal without latency it would lose blocks that come back at
// once, and its last ACK unread, both of which a real line carries.
constexpr int kXferLatencyUs = 300;

// Short waits, so that faults cost little time. A sender's answer must wait
// longer than rx and rb take to acknowledge an EOT (their timeout with
// "-t 10", one second): an EOT sent again within it makes them wait anew.
inline CXferTimings XferQuickTimings(bool bSender)
{
    CXferTimings t;
    t.nStartMs = 15000;
    t.nRequestMs = 1000;
    t.nAnswerMs = bSender ? 1500 : 300;
    t.nByteGapMs = 200;
    return t;
}

// An lrzsz program on a terminal, in a folder; its standard error goes to a
// file beside the folder. Ends only the process it started.
class CXferPeer
{
public:
    ~CXferPeer() { End(0); }
    bool Start(const QStringList& command, const QString& dir, const QString& input,
               const QString& output)
    {
        m_strErrorFile = dir + QStringLiteral("/../peer-stderr.txt");
        m_proc.setWorkingDirectory(dir);
        m_proc.setStandardInputFile(input);
        m_proc.setStandardOutputFile(output);
        m_proc.setStandardErrorFile(m_strErrorFile);
        m_proc.start(QStandardPaths::findExecutable(command.first()), command.mid(1));
        m_bStarted = m_proc.waitForStarted(20000);
        return m_bStarted;
    }
    // Waits at most nMs for the program to end by itself, then kills it.
    // Its exit status; -1 when it was killed, crashed or never ran. (An
    // event loop may have seen it end already.)
    int End(int nMs)
    {
        if (m_bEnded || m_proc.state() == QProcess::NotRunning)
            return Ended();
        if (!m_proc.waitForFinished(nMs)) {
            m_proc.kill();
            m_proc.waitForFinished(20000);
            m_bKilled = true;
        }
        return Ended();
    }
    QString Stderr() const { return QString::fromLocal8Bit(ReadFile(m_strErrorFile)).trimmed(); }

private:
    int Ended()
    {
        if (!m_bEnded) {
            m_bEnded = true;
            m_nExit = m_bStarted && !m_bKilled && m_proc.exitStatus() == QProcess::NormalExit
                          ? m_proc.exitCode()
                          : -1;
        }
        return m_nExit;
    }

    QProcess m_proc;
    QString m_strErrorFile;
    bool m_bStarted = false;
    bool m_bKilled = false;
    bool m_bEnded = false;
    int m_nExit = -1;
};

// The peer's side of a line: a pseudo-terminal pair each way for the peer's
// standard input and output, and the proxy that joins them to fdNear (our
// side's far end) with the rules of each direction.
class CXferPeerLine
{
public:
    CXferPeerLine(int fdNear, const QStringList& toPeer = {}, const QStringList& toNear = {})
        : m_proxy(fdNear, m_peerIn.MasterFd(), m_peerOut.MasterFd(), toPeer, toNear, kXferLatencyUs)
    {
    }
    bool IsValid() const { return m_peerIn.IsValid() && m_peerOut.IsValid(); }
    QString PeerInput() const { return m_peerIn.SlavePath(); }
    QString PeerOutput() const { return m_peerOut.SlavePath(); }

private:
    PtyPair m_peerIn, m_peerOut;
    CXferProxy m_proxy; // last: stops before the pairs close
};

inline bool LrzszInstalled()
{
    for (const char* program : {"sx", "sb", "rx", "rb"}) {
        if (QStandardPaths::findExecutable(QLatin1String(program)).isEmpty())
            return false;
    }
    return true;
}
