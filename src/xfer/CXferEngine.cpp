#include "CXferEngine.h"

CXferEngine::CXferEngine(XferProtocol eProtocol, const CXferTimings& timings)
    : m_eProtocol(eProtocol), m_timings(timings)
{
    m_timings.nMaxTries = qMax(1, m_timings.nMaxTries);
    m_timings.nStartMs = qMax(1, m_timings.nStartMs);
    m_timings.nRequestMs = qMax(1, m_timings.nRequestMs);
    m_timings.nAnswerMs = qMax(1, m_timings.nAnswerMs);
    m_timings.nByteGapMs = qMax(1, m_timings.nByteGapMs);
    m_timings.nCrcRequests = qMax(0, m_timings.nCrcRequests);
    m_timings.nRequestDelayMs = qMax(0, m_timings.nRequestDelayMs);
    m_progress.strProtocol = XferProtocolName(eProtocol);
}

void CXferEngine::Tick(qint64 nNowMs, QByteArray* pOut)
{
    if (!IsFinished() && nNowMs >= m_nDeadline)
        OnDeadline(nNowMs, pOut);
}

void CXferEngine::Cancel(qint64 nNowMs, QByteArray* pOut)
{
    if (IsFinished())
        return;
    AppendCancel(pOut);
    m_nEchoUntilMs = nNowMs + m_timings.nAnswerMs;
    OnAbort();
    QString text = QStringLiteral("cancelled");
    if (!m_progress.strFile.isEmpty())
        text += QStringLiteral(" during %1 at %2 bytes")
                    .arg(m_progress.strFile, XferFigure(m_progress.nFileDone));
    Finish(XferEnd::Cancelled, text);
}

bool CXferEngine::EndedReceive(const char* p, qsizetype n, qint64 nNowMs, QByteArray* pOut)
{
    if (!IsFinished())
        return false;
    if (nNowMs < m_nEchoUntilMs) {
        for (qsizetype i = 0; i < n; ++i) {
            if (p[i] != Xfer::kCan && p[i] != Xfer::kBs) {
                AppendCancel(pOut);
                m_nEchoUntilMs = -1;
                break;
            }
        }
    }
    return true;
}

bool CXferEngine::CountCan(char c)
{
    m_nCan = c == Xfer::kCan ? m_nCan + 1 : 0;
    return m_nCan >= 2;
}

void CXferEngine::Finish(XferEnd eEnd, const QString& strMessage)
{
    if (IsFinished())
        return;
    m_eEnd = eEnd;
    m_strMessage = strMessage;
    m_nDeadline = kNoDeadline;
}

void CXferEngine::Fail(const QString& strMessage)
{
    if (IsFinished())
        return;
    OnAbort();
    Finish(XferEnd::Failed, strMessage);
}

void CXferEngine::Abort(const QString& strMessage, QByteArray* pOut)
{
    if (IsFinished())
        return;
    AppendCancel(pOut);
    Fail(strMessage);
}

QString CXferEngine::TimeAndRetries(qint64 nNowMs) const
{
    QString text;
    if (m_progress.nStartMs >= 0)
        text = QStringLiteral(" in %1 s")
                   .arg(double(nNowMs - m_progress.nStartMs) / 1000.0, 0, 'f', 1);
    if (m_progress.nRetries == 1)
        text += QStringLiteral(", 1 retry");
    else if (m_progress.nRetries > 1)
        text += QStringLiteral(", %1 retries").arg(m_progress.nRetries);
    return text;
}

void CXferEngine::AppendCancel(QByteArray* pOut)
{
    pOut->append(Xfer::kCancelBytes, Xfer::kCan);
    pOut->append(Xfer::kCancelBytes, Xfer::kBs);
}
