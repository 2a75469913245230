#include "CXmodemSender.h"

#include <QFileInfo>

#include <utility>

CXmodemSender::CXmodemSender(XferProtocol eProtocol, std::vector<CXferSource*> vSources,
                             const CXferTimings& timings)
    : CXferEngine(eProtocol, timings), m_vSources(std::move(vSources))
{
    m_progress.nFiles = int(m_vSources.size());
    qint64 nTotal = 0;
    for (const CXferSource* pSource : m_vSources)
        nTotal += qMax<qint64>(0, pSource->Size());
    m_progress.nTotal = nTotal;
}

void CXmodemSender::Start(qint64 nNowMs, QByteArray* pOut)
{
    Q_UNUSED(pOut);
    if (IsFinished())
        return;
    if (m_eProtocol != XferProtocol::Ymodem && m_vSources.size() != 1) {
        Fail(QStringLiteral("%1 sends exactly one file; %2 were given")
                 .arg(m_progress.strProtocol)
                 .arg(m_vSources.size()));
        return;
    }
    if (!m_vSources.empty())
        SetFile(0);
    m_eWait = Wait::Start;
    SetDeadline(nNowMs + m_timings.nStartMs);
}

void CXmodemSender::SetFile(int nFile)
{
    m_nFile = nFile;
    m_nBlock = 0;
    m_nRead = 0;
    m_ahead.clear();
    m_nAheadBytes = 0;
    m_strAheadError.clear();
    m_progress.nFile = nFile + 1;
    m_progress.strFile = Source()->Name();
    m_progress.nFileSize = Source()->Size();
    m_progress.nFileDone = 0;
}

void CXmodemSender::Receive(const char* p, qsizetype n, qint64 nNowMs, QByteArray* pOut)
{
    if (EndedReceive(p, n, nNowMs, pOut))
        return;
    bool bIgnoreRest = false;
    for (qsizetype i = 0; i < n && !IsFinished(); ++i) {
        if (CountCan(p[i])) {
            Fail(m_eWait == Wait::Start
                     ? QStringLiteral("the receiver cancelled the transfer before it began")
                     : QStringLiteral("the receiver cancelled the transfer at %1").arg(What()));
            return;
        }
        if (!bIgnoreRest)
            bIgnoreRest = Take(p[i], nNowMs, pOut);
    }
}

bool CXmodemSender::Take(char c, qint64 nNowMs, QByteArray* pOut)
{
    if (m_ePending != Pending::None) {
        // A send is due already; what comes meanwhile is older than it. A
        // send that waits for the receiver's quiet waits again from here.
        if (m_bAfterQuiet)
            SetDeadline(nNowMs + m_timings.nQuietAgainMs);
        return true;
    }
    const bool bRequest = c == Xfer::kCrcRequest || c == Xfer::kNak;
    switch (m_eWait) {
    case Wait::Start:
        if (!bRequest)
            return false;
        m_bCrc = c == Xfer::kCrcRequest;
        m_bBig =
            m_bCrc && m_eProtocol != XferProtocol::Xmodem && m_eProtocol != XferProtocol::XmodemCrc;
        NoteStarted(nNowMs);
        Schedule(Pending::Begin, nNowMs, pOut);
        // Further requests in the same piece were sent before the block.
        return true;
    case Wait::DataRequest:
        if (bRequest)
            Schedule(Pending::FirstData, nNowMs, pOut);
        return bRequest;
    case Wait::HeaderRequest:
        if (bRequest)
            Schedule(Pending::Header, nNowMs, pOut);
        return bRequest;
    case Wait::Answer:
        if (c == Xfer::kAck) {
            if (m_eKind == Kind::Header) {
                // The receiver's 'C' for the data may follow in the same piece.
                m_eWait = Wait::DataRequest;
                SetDeadline(nNowMs + m_timings.nAnswerMs);
                return false;
            }
            if (m_eKind == Kind::End) {
                Done(nNowMs);
                return true;
            }
            m_progress.nFileDone += m_nBlockBytes;
            m_progress.nDone += m_nBlockBytes;
            m_bAnswersRequest = false;
            SendNextData(nNowMs, pOut);
            return true;
        }
        // A block that answered a request is asked for again by the next
        // request: the receiver may have discarded it.
        if (c == Xfer::kNak || (c == Xfer::kCrcRequest && m_bAnswersRequest)) {
            Schedule(Pending::Again, nNowMs, pOut, m_nTries >= 2);
            return true;
        }
        return false;
    case Wait::Eot:
        if (c == Xfer::kAck) {
            FileDone(nNowMs, pOut);
            // YMODEM's 'C' for the next header may follow.
            return false;
        }
        if (c == Xfer::kCrcRequest && m_eProtocol == XferProtocol::Ymodem) {
            // The receiver took the EOT and asks for the next header: its
            // ACK was lost.
            FileDone(nNowMs, pOut);
            if (!IsFinished())
                Schedule(Pending::Header, nNowMs, pOut);
            return true;
        }
        if (c == Xfer::kNak) {
            Schedule(Pending::Again, nNowMs, pOut);
            return true;
        }
        return false;
    }
    return false;
}

void CXmodemSender::Schedule(Pending ePending, qint64 nNowMs, QByteArray* pOut, bool bAfterQuiet)
{
    const int nDelayMs = bAfterQuiet ? m_timings.nQuietAgainMs : m_timings.nRequestDelayMs;
    m_ePending = ePending;
    m_bAfterQuiet = bAfterQuiet && nDelayMs > 0;
    SetDeadline(nNowMs + nDelayMs);
    if (nDelayMs <= 0)
        Act(nNowMs, pOut);
}

void CXmodemSender::Act(qint64 nNowMs, QByteArray* pOut)
{
    const Pending ePending = std::exchange(m_ePending, Pending::None);
    m_bAfterQuiet = false;
    switch (ePending) {
    case Pending::None:
        return;
    case Pending::Begin:
        m_bAnswersRequest = true;
        Begin(nNowMs, pOut);
        return;
    case Pending::FirstData:
        m_bAnswersRequest = true;
        SendNextData(nNowMs, pOut);
        return;
    case Pending::Header:
        m_bAnswersRequest = true;
        Send(nNowMs, pOut);
        return;
    case Pending::Again:
        if (m_eWait == Wait::Eot && !m_bEotNakSeen) {
            // The usual first answer to EOT: it goes again, no retry.
            m_bEotNakSeen = true;
            pOut->append(Xfer::kEot);
            SetDeadline(nNowMs + m_timings.nAnswerMs);
            return;
        }
        Retry(false, nNowMs, pOut);
        return;
    }
}

void CXmodemSender::Begin(qint64 nNowMs, QByteArray* pOut)
{
    if (m_eProtocol != XferProtocol::Ymodem) {
        m_eKind = Kind::Data;
        SendNextData(nNowMs, pOut);
        return;
    }
    m_eKind = m_vSources.empty() ? Kind::End : Kind::Header;
    QString strError;
    if (!MakeHeader(&strError)) {
        Abort(strError, pOut);
        return;
    }
    Send(nNowMs, pOut);
}

void CXmodemSender::SendNextData(qint64 nNowMs, QByteArray* pOut)
{
    m_eKind = Kind::Data;
    if (m_nRead >= Source()->Size()) {
        SendEot(nNowMs, pOut);
        return;
    }
    QString strError;
    if (!MakeData(&strError)) {
        Abort(strError, pOut);
        return;
    }
    Send(nNowMs, pOut);
}

void CXmodemSender::FileDone(qint64 nNowMs, QByteArray* pOut)
{
    if (m_eProtocol != XferProtocol::Ymodem) {
        Done(nNowMs);
        return;
    }
    if (m_nFile + 1 < int(m_vSources.size())) {
        SetFile(m_nFile + 1);
        m_eKind = Kind::Header;
    } else {
        m_eKind = Kind::End;
    }
    QString strError;
    if (!MakeHeader(&strError)) {
        Abort(strError, pOut);
        return;
    }
    m_eWait = Wait::HeaderRequest;
    m_nTries = 0;
    SetDeadline(nNowMs + m_timings.nAnswerMs);
}

bool CXmodemSender::MakeHeader(QString* pError)
{
    QByteArray data;
    if (m_eKind == Kind::Header) {
        const CXferSource* pSource = Source();
        // A name, never a path.
        data = QFileInfo(pSource->Name()).fileName().toUtf8();
        if (data.isEmpty()) {
            *pError = QStringLiteral("file %1 of the batch has no name").arg(m_nFile + 1);
            return false;
        }
        data.append('\0');
        data.append(QByteArray::number(pSource->Size()));
        const qint64 nModified = pSource->ModifiedTime();
        const qint64 nMode = pSource->Mode();
        if (nModified > 0 || nMode >= 0)
            data.append(' ').append(QByteArray::number(qMax<qint64>(0, nModified), 8));
        if (nMode >= 0)
            data.append(' ').append(QByteArray::number(nMode, 8));
        data.append('\0');
        if (data.size() > 1024) {
            *pError = QStringLiteral("the name of %1 is too long for YMODEM's block 0")
                          .arg(m_progress.strFile);
            return false;
        }
    }
    data.append(QByteArray((data.size() <= 128 ? 128 : 1024) - data.size(), '\0'));
    m_nBlockBytes = 0;
    m_baBlock = Frame(0, data);
    return true;
}

bool CXmodemSender::MakeData(QString* pError)
{
    if (m_ahead.empty() && !ReadAhead(pError))
        return false;
    SAhead next = std::move(m_ahead.front());
    m_ahead.pop_front();
    m_nAheadBytes -= next.nBytes;
    m_nRead += next.nBytes;
    ++m_nBlock;
    m_nBlockBytes = next.nBytes;
    m_baBlock = std::move(next.block);
    return true;
}

bool CXmodemSender::ReadAhead(QString* pError)
{
    if (!m_strAheadError.isEmpty()) {
        *pError = m_strAheadError;
        return false;
    }
    CXferSource* pSource = Source();
    const qint64 nRead = m_nRead + m_nAheadBytes;
    const qint64 nLeft = pSource->Size() - nRead;
    const qint64 nBlock = m_bBig && nLeft > 128 ? 1024 : 128;
    const qint64 nTake = qMin(nBlock, nLeft);
    QByteArray data(int(nBlock), Xfer::kSub);
    qint64 nGot = 0;
    while (nGot < nTake) {
        const qint64 n = pSource->Read(data.data() + nGot, nTake - nGot);
        if (n < 0) {
            *pError = m_strAheadError = pSource->Error();
            return false;
        }
        if (n == 0) {
            *pError = m_strAheadError =
                QStringLiteral("%1 ended at %2 of its %3 bytes: it changed while being sent")
                    .arg(m_progress.strFile, XferFigure(nRead + nGot), XferFigure(pSource->Size()));
            return false;
        }
        nGot += n;
    }
    const qint64 nNumber = m_nBlock + qint64(m_ahead.size()) + 1;
    m_ahead.push_back({Frame(int(nNumber & 0xFF), data), nTake});
    m_nAheadBytes += nTake;
    return true;
}

std::vector<QByteArray> CXmodemSender::AnswersAhead(int nMax)
{
    std::vector<QByteArray> blocks;
    if (IsFinished() || m_ePending != Pending::None || m_eWait != Wait::Answer ||
        m_eKind != Kind::Data)
        return blocks;
    QString strError;
    while (int(m_ahead.size()) < nMax && m_nRead + m_nAheadBytes < Source()->Size() &&
           ReadAhead(&strError)) {
    }
    for (const SAhead& ahead : m_ahead) {
        if (int(blocks.size()) >= nMax)
            break;
        blocks.push_back(ahead.block);
    }
    return blocks;
}

QByteArray CXmodemSender::Frame(int nNumber, const QByteArray& data) const
{
    QByteArray block;
    block.reserve(data.size() + 5);
    block.append(data.size() == 1024 ? Xfer::kStx : Xfer::kSoh);
    block.append(char(nNumber));
    block.append(char(255 - nNumber));
    block.append(data);
    if (m_bCrc) {
        const quint16 crc = XferCrc16(data.constData(), data.size());
        block.append(char(crc >> 8));
        block.append(char(crc & 0xFF));
    } else {
        block.append(char(XferChecksum(data.constData(), data.size())));
    }
    return block;
}

void CXmodemSender::Send(qint64 nNowMs, QByteArray* pOut)
{
    m_nTries = 1;
    pOut->append(m_baBlock);
    m_eWait = Wait::Answer;
    SetDeadline(nNowMs + m_timings.nAnswerMs);
}

void CXmodemSender::SendEot(qint64 nNowMs, QByteArray* pOut)
{
    m_nTries = 1;
    m_bEotNakSeen = false;
    pOut->append(Xfer::kEot);
    m_eWait = Wait::Eot;
    SetDeadline(nNowMs + m_timings.nAnswerMs);
}

void CXmodemSender::Retry(bool bTimeout, qint64 nNowMs, QByteArray* pOut)
{
    if (m_nTries >= m_timings.nMaxTries) {
        if (m_eWait == Wait::Answer && m_eKind == Kind::End) {
            // Every file went and was acknowledged; only the batch's end
            // was not.
            Done(nNowMs, QStringLiteral("; the receiver did not acknowledge the end of the batch"));
            return;
        }
        const QString strAllAcknowledged =
            m_eWait == Wait::Eot ? QStringLiteral(" (all of its blocks were acknowledged)")
                                 : QString();
        Abort(bTimeout ? QStringLiteral("no answer for %1 after %2 tries%3")
                             .arg(What())
                             .arg(m_nTries)
                             .arg(strAllAcknowledged)
                       : QStringLiteral("%1 did not get through after %2 tries: the receiver "
                                        "asked for it again each time%3")
                             .arg(What())
                             .arg(m_nTries)
                             .arg(strAllAcknowledged),
              pOut);
        return;
    }
    ++m_nTries;
    ++m_progress.nRetries;
    pOut->append(m_eWait == Wait::Eot ? QByteArray(1, Xfer::kEot) : m_baBlock);
    SetDeadline(nNowMs + m_timings.nAnswerMs);
}

void CXmodemSender::OnDeadline(qint64 nNowMs, QByteArray* pOut)
{
    if (m_ePending != Pending::None) {
        Act(nNowMs, pOut);
        return;
    }
    switch (m_eWait) {
    case Wait::Start:
        Fail(QStringLiteral("no receiver asked to begin within %1 s")
                 .arg(double(m_timings.nStartMs) / 1000.0));
        return;
    case Wait::DataRequest:
        // The receiver acknowledged the header but did not ask for the data:
        // the data goes anyway, as a receiver waiting for it takes it.
        m_bAnswersRequest = true;
        SendNextData(nNowMs, pOut);
        return;
    case Wait::HeaderRequest:
        m_bAnswersRequest = true;
        Send(nNowMs, pOut);
        return;
    case Wait::Answer:
    case Wait::Eot:
        Retry(true, nNowMs, pOut);
        return;
    }
}

QString CXmodemSender::What() const
{
    if (m_eWait == Wait::Eot)
        return QStringLiteral("the end of %1").arg(m_progress.strFile);
    if (m_eWait == Wait::DataRequest)
        return QStringLiteral("the first block of %1").arg(m_progress.strFile);
    switch (m_eKind) {
    case Kind::Header:
        return QStringLiteral("block 0 (the name and size) of %1").arg(m_progress.strFile);
    case Kind::End:
        return QStringLiteral("the end of the batch");
    case Kind::Data:
        break;
    }
    if (m_nBlock == 0)
        return QStringLiteral("the first block of %1").arg(m_progress.strFile);
    return QStringLiteral("block %1 of %2").arg(m_nBlock).arg(m_progress.strFile);
}

void CXmodemSender::Done(qint64 nNowMs, const QString& strNote)
{
    QString text;
    if (m_vSources.size() == 1)
        text = QStringLiteral("sent %1, %2 bytes")
                   .arg(m_progress.strFile, XferFigure(m_progress.nDone));
    else
        text = QStringLiteral("sent %1 files, %2 bytes")
                   .arg(m_vSources.size())
                   .arg(XferFigure(m_progress.nDone));
    Finish(XferEnd::Ok, text + TimeAndRetries(nNowMs) + strNote);
}
