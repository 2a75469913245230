#pragma once
// The matches of a byte pattern in the receive buffer, kept by stream
// position (a byte's place in everything received since the last clear), so
// that they stay on the same bytes while data arrives and the buffer's front
// is trimmed: a match trimmed away is gone, never moved onto other bytes.
// Matches do not overlap; "match case" off folds the ASCII letters only.
//
// User-interface thread (the find bar's). Searching a full buffer (500,000
// bytes) takes a few milliseconds (bench/bench_find).

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <vector>

class CFindMatches
{
public:
    // Searches the whole buffer afresh; the current match becomes the first
    // one at or after `fromPos` (a stream position), else the last one.
    void Search(QByteArrayView buffer, qint64 streamStart, const QByteArray& pattern,
                bool bMatchCase, qint64 fromPos = 0);
    // The buffer changed: bytes were appended and the front may have been
    // trimmed. Only what is new is searched (and the pattern's length before
    // it, for a match across blocks).
    void Update(QByteArrayView buffer, qint64 streamStart);
    void Clear();

    const QByteArray& Pattern() const { return m_pattern; }
    int Count() const { return int(m_matches.size()); }
    // 0-based index of the current match; -1 when there is none.
    int Current() const { return m_nCurrent; }
    qint64 CurrentPosition() const { return m_nCurrent >= 0 ? m_matches[size_t(m_nCurrent)] : -1; }
    // Stream positions of every match, in order; each is Pattern().size() long.
    const std::vector<qint64>& Positions() const { return m_matches; }
    // Moves to the next (previous) match, wrapping around; false when none.
    bool Next();
    bool Previous();
    // "3 of 17", "no match", or empty before a search.
    QString CountText() const;

private:
    void Scan(QByteArrayView buffer, qint64 streamStart, qint64 fromPos);

    QByteArray m_pattern; // folded when !m_bMatchCase
    bool m_bMatchCase = true;
    bool m_bSearched = false;
    std::vector<qint64> m_matches;
    int m_nCurrent = -1;
    qint64 m_nScannedTo = 0; // stream position up to which the buffer was searched
};
