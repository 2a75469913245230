#include "CTransmitter.h"

#include "Afx.h"
#include "CKrCommPort.h"
#include "ReceiveBuffer.h"

CTransmitter::CTransmitter(CKrCommPort& port, std::mutex& lock, qint64& nTxCount,
                           std::atomic<bool>& bEchoPending, Window& window)
    : m_port(port), m_lock(lock), m_nTxCount(nTxCount), m_bEchoPending(bEchoPending),
      m_window(window)
{
}

qint64 CTransmitter::Send(const QByteArray& bytes, const Kind& kind)
{
    qint64 nSent = 0;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        const bool bEcho = kind.echo != Echo::Never && m_window.IsLocalEchoChecked();
        if (bEcho && kind.echo == Echo::BeforeWrite) {
            // The echo passes the gate because it is set just before.
            m_bEchoPending = true;
            EchoLocked(bytes);
        }
        // A single typed byte is copied; anything longer shares its bytes
        // with the port's queue.
        if (kind.bWhole && m_port.IsOpen() &&
            m_port.GetPendingCount() + bytes.size() > CKrCommPort::kMaxQueued) {
            // Part of it would break it: none of it goes until there is room.
            nSent = 0;
        } else {
            nSent = bytes.size() == 1 ? m_port.Write(bytes.constData(), 1, kind.nStream)
                                      : m_port.Write(bytes, kind.nStream);
        }
        if (nSent < 0 || (nSent == 0 && !bytes.isEmpty() && kind.bOnlyWhenOpen)) {
            if (kind.bOnlyWhenOpen) {
                // Nothing went anywhere: nothing is counted and the gate stays.
                if (kind.bBeep)
                    AfxMessageBeep();
                nSent = kind.bWhole && nSent == 0 ? 0 : -1;
            } else {
                nSent = 0;
                if (kind.bSetsGate)
                    m_bEchoPending = true;
            }
        } else {
            if (kind.bCounted)
                m_nTxCount += nSent;
            if (kind.bSetsGate)
                m_bEchoPending = true;
            // Keys typed one after another are one send while nothing comes
            // between them (the log decides that).
            TellSent(bytes, nSent, kind.nStream == kStreamTyped && kind.echo == Echo::Never);
            if (bEcho && kind.echo == Echo::AfterWrite)
                EchoLocked(nSent == bytes.size() ? bytes : bytes.left(qsizetype(nSent)));
        }
    }
    if (kind.bTellsTx)
        m_window.TxChanged();
    return nSent;
}

qint64 CTransmitter::SendFilePiece(const QByteArray& bytes, bool bWhole, bool bFirst)
{
    qint64 nSent = 0;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        // A whole file shares its bytes with the port's queue; a piece of a
        // larger one is copied there (it is a view of the sender's buffer).
        nSent = bWhole ? m_port.Write(bytes, kStreamFile)
                       : m_port.Write(bytes.constData(), int(bytes.size()), kStreamFile);
        if (nSent < 0)
            return nSent;
        m_nTxCount += nSent;
        // The gate is set once for the file, as for any other transmission.
        if (bFirst)
            m_bEchoPending = true;
        TellSent(bytes, nSent, !bFirst);
        if (m_window.IsLocalEchoChecked()) {
            if (bWhole) {
                EchoLocked(nSent == bytes.size() ? bytes : bytes.left(qsizetype(nSent)));
            } else {
                // In parts no longer than one trim, so that the buffer stays
                // within its limit however long the file is.
                for (qint64 nFrom = 0; nFrom < nSent; nFrom += ReceiveBuffer::kTrim)
                    EchoLocked(
                        bytes.mid(qsizetype(nFrom),
                                  qsizetype(qMin<qint64>(ReceiveBuffer::kTrim, nSent - nFrom))));
            }
        }
    }
    m_window.TxChanged();
    return nSent;
}

qint64 CTransmitter::PendingFileBytes() const
{
    return m_port.IsOpen() ? m_port.GetPendingCount() : -1;
}

qint64 CTransmitter::DiscardFileBytes()
{
    const qint64 n = m_port.DiscardPending(kStreamFile);
    Uncount(n);
    return n;
}

qint64 CTransmitter::TakeDroppedFileBytes()
{
    const qint64 n = m_port.TakeDroppedCount(kStreamFile);
    Uncount(n);
    return n;
}

void CTransmitter::TakeDroppedLocked()
{
    const qint64 nDropped =
        m_port.TakeDroppedCount(kStreamTyped) + m_port.TakeDroppedCount(kStreamTransfer);
    m_nTxCount = qMax<qint64>(0, m_nTxCount - nDropped);
}

void CTransmitter::Uncount(qint64 nBytes)
{
    if (nBytes <= 0)
        return;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_nTxCount = qMax<qint64>(0, m_nTxCount - nBytes);
    }
    m_window.TxChanged();
}

void CTransmitter::EchoLocked(const QByteArray& bytes)
{
    m_window.AppendEchoLocked(bytes);
}

void CTransmitter::TellSent(const QByteArray& bytes, qint64 nSent, bool bContinues)
{
    if (m_sent && nSent > 0)
        m_sent(nSent == bytes.size() ? bytes : bytes.left(qsizetype(nSent)), KrTimeStamp::Now(),
               bContinues);
}
