#include "CFindMatches.h"

#include "Figure.h"

#include <algorithm>
#include <functional>

namespace {

unsigned char Fold(unsigned char b)
{
    return b >= 'A' && b <= 'Z' ? static_cast<unsigned char>(b + ('a' - 'A')) : b;
}

QByteArray Folded(const char* pData, qsizetype nLength)
{
    QByteArray out(nLength, Qt::Uninitialized);
    for (qsizetype i = 0; i < nLength; ++i)
        out[i] = char(Fold(static_cast<unsigned char>(pData[i])));
    return out;
}

} // namespace

void CFindMatches::Search(QByteArrayView buffer, qint64 streamStart, const QByteArray& pattern,
                          bool bMatchCase, qint64 fromPos)
{
    m_bMatchCase = bMatchCase;
    m_pattern = bMatchCase ? pattern : Folded(pattern.constData(), pattern.size());
    m_matches.clear();
    m_bSearched = true;
    m_nScannedTo = streamStart;
    Scan(buffer, streamStart, streamStart);
    m_nCurrent = -1;
    if (m_matches.empty())
        return;
    const auto it = std::lower_bound(m_matches.begin(), m_matches.end(), fromPos);
    m_nCurrent = it == m_matches.end() ? int(m_matches.size()) - 1 : int(it - m_matches.begin());
}

void CFindMatches::Update(QByteArrayView buffer, qint64 streamStart)
{
    if (!m_bSearched || m_pattern.isEmpty())
        return;
    // Matches that lost a byte to the trim are gone; the current one stays
    // on its bytes, or becomes the first that is left.
    const qint64 nCurrentPos = CurrentPosition();
    const auto firstKept = std::lower_bound(m_matches.begin(), m_matches.end(), streamStart);
    const int nDropped = int(firstKept - m_matches.begin());
    m_matches.erase(m_matches.begin(), firstKept);
    // Nor can a match lie beyond the buffer's end.
    const qint64 nLastStart = streamStart + buffer.size() - m_pattern.size();
    while (!m_matches.empty() && m_matches.back() > nLastStart)
        m_matches.pop_back();
    if (m_nCurrent >= int(m_matches.size()))
        m_nCurrent = int(m_matches.size()) - 1;
    if (m_nCurrent >= 0)
        m_nCurrent = nCurrentPos >= streamStart ? m_nCurrent - nDropped : 0;
    // A match may end in the new bytes and start before them.
    const qint64 nFrom = std::max(streamStart, m_nScannedTo - qint64(m_pattern.size()) + 1);
    Scan(buffer, streamStart,
         std::max(nFrom, m_matches.empty() ? streamStart : m_matches.back() + m_pattern.size()));
    if (m_matches.empty())
        m_nCurrent = -1;
    else if (m_nCurrent < 0)
        m_nCurrent = 0;
}

void CFindMatches::Clear()
{
    *this = CFindMatches();
}

void CFindMatches::Scan(QByteArrayView buffer, qint64 streamStart, qint64 fromPos)
{
    const qint64 streamEnd = streamStart + buffer.size();
    m_nScannedTo = streamEnd;
    const qsizetype n = m_pattern.size();
    if (n == 0 || fromPos >= streamEnd)
        return;
    const qsizetype from = qsizetype(fromPos - streamStart);
    // Without case, a folded copy of the part searched.
    const QByteArray folded =
        m_bMatchCase ? QByteArray() : Folded(buffer.constData() + from, buffer.size() - from);
    const char* pBase = m_bMatchCase ? buffer.constData() + from : folded.constData();
    const qsizetype nLength = buffer.size() - from;
    const char* const pEnd = pBase + nLength;
    const std::boyer_moore_horspool_searcher searcher(m_pattern.constBegin(), m_pattern.constEnd());
    for (const char* p = pBase; pEnd - p >= n;) {
        const char* pAt = std::search(p, pEnd, searcher);
        if (pAt == pEnd)
            break;
        m_matches.push_back(fromPos + (pAt - pBase));
        p = pAt + n;
    }
}

bool CFindMatches::Next()
{
    if (m_matches.empty())
        return false;
    m_nCurrent = (m_nCurrent + 1) % int(m_matches.size());
    return true;
}

bool CFindMatches::Previous()
{
    if (m_matches.empty())
        return false;
    m_nCurrent = (m_nCurrent <= 0 ? int(m_matches.size()) : m_nCurrent) - 1;
    return true;
}

QString CFindMatches::CountText() const
{
    if (!m_bSearched)
        return QString();
    if (m_matches.empty())
        return QStringLiteral("no match");
    return QStringLiteral("%1 of %2").arg(Figure(m_nCurrent + 1), Figure(Count()));
}
