#include "CXmodemReceiver.h"

namespace {

// Digits in `base` from *pPos on, after spaces; -1 when there are none or
// the number is too large to mean anything.
qint64 ParseNumber(const char* p, int nLen, int* pPos, int base)
{
    while (*pPos < nLen && p[*pPos] == ' ')
        ++*pPos;
    qint64 n = 0;
    int nDigits = 0;
    while (*pPos < nLen) {
        const char c = p[*pPos];
        const int d = c >= '0' && c <= '9' ? c - '0' : 99;
        if (d >= base)
            break;
        if (n > (qint64(1) << 56))
            return -1;
        n = n * base + d;
        ++nDigits;
        ++*pPos;
    }
    return nDigits > 0 ? n : -1;
}

} // namespace

CXmodemReceiver::CXmodemReceiver(XferProtocol eProtocol, CXferTarget* pTarget,
                                 const CXferTimings& timings)
    : CXferEngine(eProtocol, timings), m_pTarget(pTarget),
      m_bYmodem(eProtocol == XferProtocol::Ymodem)
{
    m_nExpected = m_bYmodem ? 0 : 1;
}

void CXmodemReceiver::Start(qint64 nNowMs, QByteArray* pOut)
{
    if (IsFinished())
        return;
    m_nStartEndMs = nNowMs + m_timings.nStartMs;
    Request(nNowMs, pOut);
}

void CXmodemReceiver::Request(qint64 nNowMs, QByteArray* pOut)
{
    bool bCrc = true;
    if (m_eProtocol == XferProtocol::Xmodem)
        bCrc = false;
    else if (!m_bYmodem)
        bCrc = m_nRequests < m_timings.nCrcRequests;
    ++m_nRequests;
    m_bCrc = bCrc;
    m_bAskedCrc = m_bAskedCrc || bCrc;
    pOut->append(bCrc ? Xfer::kCrcRequest : Xfer::kNak);
    m_eState = State::Idle;
    SetDeadline(qMin(nNowMs + m_timings.nRequestMs, m_nStartEndMs));
}

void CXmodemReceiver::Receive(const char* p, qsizetype n, qint64 nNowMs, QByteArray* pOut)
{
    if (EndedReceive(p, n, nNowMs, pOut))
        return;
    qsizetype i = 0;
    while (i < n && !IsFinished()) {
        switch (m_eState) {
        case State::Block: {
            const qsizetype nTake = qMin<qsizetype>(n - i, m_nNeed - m_baBlock.size());
            m_baBlock.append(p + i, nTake);
            i += nTake;
            SetDeadline(nNowMs + m_timings.nByteGapMs);
            if (m_baBlock.size() == m_nNeed)
                CheckBlock(nNowMs, pOut);
            break;
        }
        case State::Purge:
            // Whatever comes is dropped, CAN too: a damaged block's data may
            // hold any byte.
            i = n;
            SetDeadline(qMin(nNowMs + m_timings.nByteGapMs, m_nPurgeEndMs));
            break;
        case State::Eot:
            if (p[i] == Xfer::kEot) {
                ++i;
                EndOfFile(nNowMs, pOut);
                break;
            }
            // Anything else: the EOT was noise, or the sender goes on.
            m_eState = State::Idle;
            SetDeadline(nNowMs + m_timings.nAnswerMs);
            break;
        case State::Idle:
            Idle(p[i++], nNowMs, pOut);
            break;
        }
    }
}

void CXmodemReceiver::Idle(char c, qint64 nNowMs, QByteArray* pOut)
{
    if (CountCan(c)) {
        QString text = QStringLiteral("the sender cancelled the transfer");
        if (m_bStarting && m_nFiles == 0)
            text += QStringLiteral(" before it began");
        else if (m_bFileOpen)
            text += QStringLiteral(" at %1").arg(What());
        Fail(text);
        return;
    }
    if (c == Xfer::kCan)
        return; // a second one ends the transfer; anything else makes it noise
    if (c == Xfer::kSoh || c == Xfer::kStx) {
        m_baBlock.clear();
        m_baBlock.append(c);
        m_nNeed = 3 + (c == Xfer::kSoh ? 128 : 1024) + (m_bCrc ? 2 : 1);
        m_bTryingCrc = false;
        m_eState = State::Block;
        SetDeadline(nNowMs + m_timings.nByteGapMs);
        return;
    }
    if (c == Xfer::kEot) {
        OnEot(nNowMs, pOut);
        return;
    }
    // Noise. Before the first block it is what the other side says while it
    // gets ready; later it may be a block whose first byte was lost.
    if (!m_bStarting)
        StartPurge(nNowMs);
}

void CXmodemReceiver::StartPurge(qint64 nNowMs)
{
    m_eState = State::Purge;
    m_nPurgeEndMs = nNowMs + m_timings.nAnswerMs;
    SetDeadline(qMin(nNowMs + m_timings.nByteGapMs, m_nPurgeEndMs));
}

void CXmodemReceiver::CheckBlock(qint64 nNowMs, QByteArray* pOut)
{
    const char* p = m_baBlock.constData();
    const int nLen = p[0] == Xfer::kSoh ? 128 : 1024;
    const quint8 nNumber = quint8(p[1]);
    if (quint8(nNumber ^ quint8(p[2])) != 0xFF) {
        StartPurge(nNowMs);
        return;
    }
    const char* pData = p + 3;
    bool bGood;
    if (m_bCrc || m_bTryingCrc) {
        const quint16 crc = quint16(quint8(pData[nLen]) << 8 | quint8(pData[nLen + 1]));
        bGood = crc == XferCrc16(pData, nLen);
    } else {
        bGood = quint8(pData[nLen]) == XferChecksum(pData, nLen);
        if (!bGood && m_bStarting && m_bAskedCrc) {
            // The sender may have answered an earlier 'C': one byte more
            // makes the block one with a CRC.
            m_bTryingCrc = true;
            ++m_nNeed;
            return;
        }
    }
    if (!bGood) {
        StartPurge(nNowMs);
        return;
    }
    if (m_bTryingCrc)
        m_bCrc = true;
    m_bTryingCrc = false;
    m_eState = State::Idle;
    SetDeadline(nNowMs + m_timings.nAnswerMs);

    const quint8 nWanted = quint8(m_nExpected & 0xFF);
    const quint8 nPrevious = quint8((m_nExpected - 1) & 0xFF);
    if (nNumber == nWanted) {
        Accept(pData, nLen, nNowMs, pOut);
        return;
    }
    if (nNumber == nPrevious && !m_bStarting && !(m_bYmodem && m_nExpected == 0)) {
        // Our answer was lost: the block is acknowledged again, not written.
        if (++m_nRepeats > m_timings.nMaxTries) {
            Abort(QStringLiteral("the sender sent block %1 of %2 %3 times: it does not hear the "
                                 "answers")
                      .arg(m_nExpected - 1)
                      .arg(m_progress.strFile)
                      .arg(m_nRepeats),
                  pOut);
            return;
        }
        ++m_progress.nRetries;
        // The sender is there; it only does not hear us, which the repeats
        // count.
        m_nTries = 0;
        pOut->append(Xfer::kAck);
        if (m_bYmodem && m_nExpected == 1 && m_bAwaitData)
            pOut->append(Xfer::kCrcRequest); // the header again: ask for the data again
        return;
    }
    if (!m_bYmodem && m_bStarting && nNumber == 0) {
        Abort(QStringLiteral("the sender uses YMODEM (its first block names the file): receive "
                             "with YMODEM"),
              pOut);
        return;
    }
    if (m_bYmodem && m_nExpected == 0 && m_nFiles == 0 && nNumber == 1) {
        Abort(QStringLiteral("the sender uses XMODEM (its first block does not name the file): "
                             "receive with XMODEM"),
              pOut);
        return;
    }
    Abort(QStringLiteral("the blocks are out of step: %1 was due, the sender sent block number %2")
              .arg(What())
              .arg(nNumber),
          pOut);
}

void CXmodemReceiver::Accept(const char* pData, int nLen, qint64 nNowMs, QByteArray* pOut)
{
    NoteStarted(nNowMs);
    m_bStarting = false;
    m_nTries = 0;
    m_nRepeats = 0;
    if (m_bYmodem && m_nExpected == 0) {
        Header(pData, nLen, nNowMs, pOut);
        return;
    }
    if (!m_bFileOpen) {
        QString strError;
        if (!m_pTarget->Begin(QByteArray(), -1, -1, &strError)) {
            Abort(strError, pOut);
            return;
        }
        m_bFileOpen = true;
        m_nFileSize = -1;
        m_progress.nFile = 1;
        m_progress.strFile = m_pTarget->StoredName();
    }
    qint64 nWrite = nLen;
    if (m_nFileSize >= 0)
        nWrite = qBound(qint64(0), m_nFileSize - m_progress.nFileDone, qint64(nLen));
    if (!Write(pData, nWrite, pOut))
        return;
    m_bAwaitData = false;
    ++m_nExpected;
    pOut->append(Xfer::kAck);
}

bool CXmodemReceiver::Write(const char* pData, qint64 nLen, QByteArray* pOut)
{
    if (nLen <= 0)
        return true;
    QString strError;
    if (!m_pTarget->Write(pData, nLen, &strError)) {
        Abort(strError, pOut);
        return false;
    }
    m_progress.nFileDone += nLen;
    m_progress.nDone += nLen;
    return true;
}

void CXmodemReceiver::Header(const char* pData, int nLen, qint64 nNowMs, QByteArray* pOut)
{
    Q_UNUSED(nNowMs);
    const int nName = int(qstrnlen(pData, uint(nLen)));
    if (nName == 0) {
        // The empty block 0: the batch is over.
        pOut->append(Xfer::kAck);
        Done(nNowMs);
        return;
    }
    int nPos = nName + 1;
    const qint64 nSize = ParseNumber(pData, nLen, &nPos, 10);
    qint64 nModified = -1;
    if (nSize >= 0) {
        nModified = ParseNumber(pData, nLen, &nPos, 8);
        if (nModified == 0)
            nModified = -1; // 0 is "not known"
    }
    QString strError;
    if (!m_pTarget->Begin(QByteArray(pData, nName), nSize, nModified, &strError)) {
        Abort(strError, pOut);
        return;
    }
    m_bFileOpen = true;
    m_nFileSize = nSize;
    m_progress.nFile = m_nFiles + 1;
    m_progress.strFile = m_pTarget->StoredName();
    m_progress.nFileSize = nSize;
    m_progress.nFileDone = 0;
    m_nExpected = 1;
    m_bAwaitData = true;
    pOut->append(Xfer::kAck);
    pOut->append(Xfer::kCrcRequest);
}

void CXmodemReceiver::OnEot(qint64 nNowMs, QByteArray* pOut)
{
    if (m_bYmodem && m_nExpected == 0) {
        if (m_nFiles > 0) {
            // Our answer to the last file's EOT was lost.
            ++m_progress.nRetries;
            pOut->append(Xfer::kAck);
            pOut->append(Xfer::kCrcRequest);
        }
        return; // before the first header: noise
    }
    pOut->append(Xfer::kNak);
    m_eState = State::Eot;
    SetDeadline(nNowMs + m_timings.nAnswerMs);
}

void CXmodemReceiver::EndOfFile(qint64 nNowMs, QByteArray* pOut)
{
    NoteStarted(nNowMs);
    m_bStarting = false;
    if (!m_bFileOpen) {
        // XMODEM's EOT before any block: an empty file.
        QString strError;
        if (!m_pTarget->Begin(QByteArray(), -1, -1, &strError)) {
            Abort(strError, pOut);
            return;
        }
        m_bFileOpen = true;
        m_progress.nFile = 1;
        m_progress.strFile = m_pTarget->StoredName();
    }
    if (m_nFileSize >= 0 && m_progress.nFileDone < m_nFileSize) {
        Abort(
            QStringLiteral("the sender ended %1 at %2 of its %3 bytes")
                .arg(m_progress.strFile, XferFigure(m_progress.nFileDone), XferFigure(m_nFileSize)),
            pOut);
        return;
    }
    QString strError;
    m_bFileOpen = false;
    if (!m_pTarget->Commit(&strError)) {
        Abort(strError, pOut);
        return;
    }
    ++m_nFiles;
    m_strLastFile = m_pTarget->StoredName();
    const QString strNote = m_pTarget->Note();
    if (!strNote.isEmpty())
        m_strNotes += QStringLiteral("; ") + strNote;
    pOut->append(Xfer::kAck);
    m_nTries = 0;
    m_nRepeats = 0;
    m_bAwaitData = false;
    m_eState = State::Idle;
    if (!m_bYmodem) {
        Done(nNowMs);
        return;
    }
    m_nExpected = 0;
    m_nFileSize = -1;
    pOut->append(Xfer::kCrcRequest);
    SetDeadline(nNowMs + m_timings.nAnswerMs);
}

void CXmodemReceiver::Retry(Why eWhy, qint64 nNowMs, QByteArray* pOut)
{
    if (m_bStarting) {
        if (eWhy == Why::Damaged)
            ++m_progress.nRetries;
        if (nNowMs >= m_nStartEndMs) {
            Fail(QStringLiteral("no sender began within %1 s")
                     .arg(double(m_timings.nStartMs) / 1000.0));
            return;
        }
        Request(nNowMs, pOut);
        return;
    }
    if (++m_nTries >= m_timings.nMaxTries) {
        QString text;
        if (m_bYmodem && m_nExpected == 0)
            text = QStringLiteral("received %1 %2; then no answer from the sender for the next "
                                  "file after %3 tries")
                       .arg(m_nFiles)
                       .arg(m_nFiles == 1 ? QStringLiteral("file") : QStringLiteral("files"))
                       .arg(m_nTries);
        else if (eWhy == Why::Silent)
            text = QStringLiteral("no answer from the sender for %1 after %2 tries")
                       .arg(What())
                       .arg(m_nTries);
        else
            text = QStringLiteral("%1 came damaged %2 times").arg(What()).arg(m_nTries);
        Abort(text, pOut);
        return;
    }
    ++m_progress.nRetries;
    const bool bAskForData =
        m_bYmodem && (m_nExpected == 0 || (m_bAwaitData && eWhy == Why::Silent));
    pOut->append(bAskForData ? Xfer::kCrcRequest : Xfer::kNak);
    m_eState = State::Idle;
    SetDeadline(nNowMs + m_timings.nAnswerMs);
}

void CXmodemReceiver::OnDeadline(qint64 nNowMs, QByteArray* pOut)
{
    switch (m_eState) {
    case State::Idle:
        Retry(Why::Silent, nNowMs, pOut);
        return;
    case State::Block:
    case State::Purge:
        Retry(Why::Damaged, nNowMs, pOut);
        return;
    case State::Eot:
        // No second EOT: the sender took our NAK as the end, or is gone.
        EndOfFile(nNowMs, pOut);
        return;
    }
}

void CXmodemReceiver::OnAbort()
{
    if (m_bFileOpen)
        m_pTarget->Discard();
    m_bFileOpen = false;
}

QString CXmodemReceiver::What() const
{
    if (m_bYmodem && m_nExpected == 0)
        return QStringLiteral("block 0 (the name and size) of the next file");
    if (m_progress.strFile.isEmpty())
        return QStringLiteral("block %1").arg(m_nExpected);
    return QStringLiteral("block %1 of %2").arg(m_nExpected).arg(m_progress.strFile);
}

void CXmodemReceiver::Done(qint64 nNowMs)
{
    QString text;
    if (m_nFiles == 0)
        text = QStringLiteral("the sender's batch held no files");
    else if (m_nFiles == 1)
        text = QStringLiteral("received %1, %2 bytes")
                   .arg(m_strLastFile, XferFigure(m_progress.nDone));
    else
        text = QStringLiteral("received %1 files, %2 bytes")
                   .arg(m_nFiles)
                   .arg(XferFigure(m_progress.nDone));
    Finish(XferEnd::Ok, text + TimeAndRetries(nNowMs) + m_strNotes);
}
