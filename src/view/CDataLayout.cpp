#include "CDataLayout.h"

#include "Cp437.h"
#include "ReceiveBuffer.h"

#include <algorithm>

namespace {

constexpr int kTabWidth = 8;
using ReceiveBuffer::FormatHexData;
using ReceiveBuffer::HexGroup;
using ReceiveBuffer::kHexGroup; // "[XX] "
// Dropped rows are removed from the front of the index in batches.
constexpr size_t kCompactAfter = 4096;

int NextTabStop(int col, int nColumns)
{
    return std::min((col / kTabWidth + 1) * kTabWidth, nColumns);
}

} // namespace

CDataLayout::CDataLayout()
{
    Clear();
}

void CDataLayout::Clear()
{
    m_buffer = QByteArray();
    m_nStreamStart = 0;
    m_nEnd = 0;
    m_bValid = false;
    m_rows.assign(1, Row{0, 0});
    m_nHead = 0;
    m_walk = Walk();
}

bool CDataLayout::Continues(const QByteArray& buffer, qint64 streamStart, bool bHex) const
{
    const qint64 oldEnd = StreamEnd();
    if (!m_bValid || bHex != m_bHex || streamStart < m_nStreamStart || streamStart > oldEnd ||
        streamStart + buffer.size() < oldEnd)
        return false;
    if (streamStart == oldEnd)
        return true; // nothing in common: all of the old was trimmed
    // A cheap guard against a buffer that is not the old one grown: the bytes
    // at both ends of what the two have in common must agree.
    const char* pOld = m_buffer.constData();
    const char* pNew = buffer.constData();
    return pOld[streamStart - m_nStreamStart] == pNew[0] &&
           pOld[oldEnd - 1 - m_nStreamStart] == pNew[oldEnd - 1 - streamStart];
}

CDataLayout::Update CDataLayout::SetBuffer(const QByteArray& buffer, qint64 streamStart, bool bHex)
{
    CReceiveSnapshot snap;
    snap.bytes = buffer;
    snap.nStart = streamStart;
    snap.nEnd = streamStart + buffer.size();
    snap.nGeneration = m_nGeneration;
    snap.bHex = bHex;
    return Take(snap, Continues(buffer, streamStart, bHex));
}

bool CDataLayout::Continues(const CReceiveSnapshot& snap) const
{
    return m_bValid && snap.bHex == m_bHex && snap.nGeneration == m_nGeneration &&
           snap.nStart >= m_nStreamStart && snap.nStart <= StreamEnd() && snap.nEnd >= StreamEnd();
}

CDataLayout::Update CDataLayout::SetSnapshot(const CReceiveSnapshot& snap)
{
    return Take(snap, Continues(snap));
}

CDataLayout::Update CDataLayout::Take(const CReceiveSnapshot& snap, bool bContinues)
{
    const qint64 oldEnd = StreamEnd();
    const qint64 nTrimmed = snap.nStart - m_nStreamStart;
    m_buffer = snap.bytes;
    m_nStreamStart = snap.nStart;
    m_nEnd = snap.nEnd;
    m_nGeneration = snap.nGeneration;
    if (!bContinues) {
        m_bHex = snap.bHex;
        m_bValid = true;
        Rebuild(0);
        return Update::Fresh;
    }
    if (!m_bHex) {
        Append(oldEnd, StreamEnd());
        if (nTrimmed > 0)
            TrimFront();
    }
    return Update::Continued;
}

void CDataLayout::SetColumns(int nColumns)
{
    nColumns = std::max(1, nColumns);
    if (nColumns == m_nColumns)
        return;
    m_nColumns = nColumns;
    if (m_bValid && !m_bHex)
        Rebuild(TextOrigin());
}

// Lays out one byte. Rows start lazily: a character that does not fit opens
// the next row, so a full row followed by a line end adds no empty row.
// Returns true when the byte ends a line.
inline bool CDataLayout::Step(unsigned char byte, qint64 pos, Walk& walk,
                              std::vector<Row>& rows) const
{
    switch (byte) {
    case '\n':
        if (walk.bAfterCR) {
            // The LF of CR LF: the row opened after the CR starts after it.
            rows.back().pos = pos + 1;
            walk.bAfterCR = false;
            return true;
        }
        ++walk.text;
        rows.push_back(Row{pos + 1, walk.text});
        walk.col = 0;
        return true;
    case '\r':
        ++walk.text;
        rows.push_back(Row{pos + 1, walk.text});
        walk.col = 0;
        walk.bAfterCR = true;
        return true;
    default:
        walk.bAfterCR = false;
        if (walk.col >= m_nColumns) {
            rows.push_back(Row{pos, walk.text});
            walk.col = 0;
        }
        walk.col = byte == '\t' ? NextTabStop(walk.col, m_nColumns) : walk.col + 1;
        ++walk.text;
        return false;
    }
}

void CDataLayout::Rebuild(qint64 textOrigin)
{
    ++m_nRebuilds;
    m_rows.clear();
    m_nHead = 0;
    m_walk = Walk();
    m_walk.text = textOrigin;
    m_rows.push_back(Row{m_nStreamStart, textOrigin});
    if (!m_bHex)
        Append(m_nStreamStart, StreamEnd());
}

void CDataLayout::Append(qint64 from, qint64 to)
{
    const unsigned char* pData = reinterpret_cast<const unsigned char*>(m_buffer.constData());
    for (qint64 pos = from; pos < to; ++pos)
        Step(pData[pos - m_nStreamStart], pos, m_walk, m_rows);
}

// The buffer's front was dropped: only the line it now starts in changes its
// rows (it wraps from its new first byte); every later line keeps its rows.
void CDataLayout::TrimFront()
{
    const qint64 start = m_nStreamStart;
    const qint64 end = StreamEnd();
    std::vector<Row> rows{Row{start, 0}};
    Walk walk;
    qint64 pos = start;
    bool bSplice = false;
    while (pos < end) {
        const unsigned char byte = ByteAt(pos);
        const bool bLineEnd = Step(byte, pos, walk, rows);
        ++pos;
        if (bLineEnd) {
            if (byte == '\r' && pos < end && ByteAt(pos) == '\n')
                continue;
            bSplice = pos < end;
            break;
        }
    }

    if (!bSplice) {
        // The first line reaches the end: the new rows are all there is.
        // Keep the text positions of the end as they were.
        const qint64 shift = m_walk.text - walk.text;
        for (Row& row : rows)
            row.text += shift;
        walk.text += shift;
        m_rows.swap(rows);
        m_nHead = 0;
        m_walk = walk;
        return;
    }

    const qint64 next = rows.back().pos;
    auto it = std::lower_bound(m_rows.begin() + m_nHead, m_rows.end(), next,
                               [](const Row& row, qint64 p) { return row.pos < p; });
    if (it == m_rows.end() || it->pos != next) {
        // Cannot happen while the index matches the bytes; recover anyway.
        Rebuild(m_rows[m_nHead].text);
        return;
    }
    const size_t idx = static_cast<size_t>(it - m_rows.begin());
    const qint64 shift = it->text - rows.back().text;
    const size_t nNew = rows.size() - 1;
    if (nNew <= idx - m_nHead) {
        const size_t dst = idx - nNew;
        for (size_t i = 0; i < nNew; ++i)
            m_rows[dst + i] = Row{rows[i].pos, rows[i].text + shift};
        m_nHead = dst;
    } else {
        for (Row& row : rows)
            row.text += shift;
        m_rows.erase(m_rows.begin(), m_rows.begin() + idx);
        m_rows.insert(m_rows.begin(), rows.begin(), rows.end() - 1);
        m_nHead = 0;
    }
    if (m_nHead > kCompactAfter && m_nHead * 2 > m_rows.size()) {
        m_rows.erase(m_rows.begin(), m_rows.begin() + m_nHead);
        m_nHead = 0;
    }
}

int CDataLayout::GroupsPerRow() const
{
    return std::max(1, m_nColumns / kHexGroup);
}

int CDataLayout::RowCount() const
{
    if (m_bHex) {
        const qint64 g = GroupsPerRow();
        return std::max<int>(1, static_cast<int>((StreamEnd() - m_nStreamStart + g - 1) / g));
    }
    return static_cast<int>(m_rows.size() - m_nHead);
}

void CDataLayout::RowBytes(int row, qint64& begin, qint64& contentEnd, qint64& end) const
{
    if (m_bHex) {
        const qint64 g = GroupsPerRow();
        begin = std::min(StreamEnd(), m_nStreamStart + row * g);
        end = std::min(StreamEnd(), begin + g);
        contentEnd = end;
        return;
    }
    const size_t i = m_nHead + static_cast<size_t>(row);
    begin = m_rows[i].pos;
    end = i + 1 < m_rows.size() ? m_rows[i + 1].pos : StreamEnd();
    contentEnd = end;
    // A row that ends a line ends with its LF, CR or CR LF.
    if (contentEnd > begin && ByteAt(contentEnd - 1) == '\n')
        --contentEnd;
    if (contentEnd > begin && ByteAt(contentEnd - 1) == '\r')
        --contentEnd;
}

int CDataLayout::RowStartOffset(int row) const
{
    if (m_bHex)
        return row * GroupsPerRow() * kHexGroup;
    return static_cast<int>(m_rows[m_nHead + row].text - m_rows[m_nHead].text);
}

int CDataLayout::RowEndOffset(int row) const
{
    qint64 begin, contentEnd, end;
    RowBytes(row, begin, contentEnd, end);
    const int n = static_cast<int>(contentEnd - begin);
    return RowStartOffset(row) + (m_bHex ? n * kHexGroup : n);
}

bool CDataLayout::RowEndsLine(int row) const
{
    qint64 begin, contentEnd, end;
    RowBytes(row, begin, contentEnd, end);
    return contentEnd != end && !m_bHex;
}

int CDataLayout::RowOfOffset(int offset) const
{
    const int nRows = RowCount();
    int row;
    if (m_bHex) {
        row = offset / (GroupsPerRow() * kHexGroup);
    } else {
        const qint64 abs = TextOrigin() + offset;
        auto it = std::upper_bound(m_rows.begin() + m_nHead, m_rows.end(), abs,
                                   [](qint64 t, const Row& r) { return t < r.text; });
        row = static_cast<int>(it - (m_rows.begin() + m_nHead)) - 1;
    }
    return std::clamp(row, 0, nRows - 1);
}

int CDataLayout::OffsetOfPosition(qint64 pos) const
{
    pos = std::clamp(pos, m_nStreamStart, StreamEnd());
    if (m_bHex)
        return static_cast<int>(pos - m_nStreamStart) * kHexGroup;
    auto it = std::upper_bound(m_rows.begin() + m_nHead, m_rows.end(), pos,
                               [](qint64 p, const Row& r) { return p < r.pos; });
    const int row = std::max(0, static_cast<int>(it - (m_rows.begin() + m_nHead)) - 1);
    qint64 begin, contentEnd, end;
    RowBytes(row, begin, contentEnd, end);
    return RowStartOffset(row) + static_cast<int>(std::min(pos, contentEnd) - begin);
}

qint64 CDataLayout::PositionOfOffset(int offset, bool bRoundUp) const
{
    offset = std::clamp(offset, 0, CharacterCount());
    if (m_bHex) {
        const int group = (offset + (bRoundUp ? kHexGroup - 1 : 0)) / kHexGroup;
        return std::min(m_nStreamStart + group, StreamEnd());
    }
    const int row = RowOfOffset(offset);
    qint64 begin, contentEnd, end;
    RowBytes(row, begin, contentEnd, end);
    const int k = offset - RowStartOffset(row);
    // Past the row's content and its line end: the next row's first byte.
    return k <= contentEnd - begin ? begin + k : end;
}

int CDataLayout::OffsetAtCell(int row, int cell) const
{
    qint64 begin, contentEnd, end;
    RowBytes(row, begin, contentEnd, end);
    const int start = RowStartOffset(row);
    if (m_bHex)
        return start + std::clamp(cell, 0, static_cast<int>(contentEnd - begin) * kHexGroup);
    int col = 0;
    int offset = start;
    for (qint64 pos = begin; pos < contentEnd; ++pos, ++offset) {
        const int next = ByteAt(pos) == '\t' ? NextTabStop(col, m_nColumns) : col + 1;
        if (cell <= col)
            return offset;
        if (cell < next) // inside a tab: the nearer side
            return 2 * cell < col + next ? offset : offset + 1;
        col = next;
    }
    return offset;
}

void CDataLayout::RowCells(int row, Cells& out) const
{
    qint64 begin, contentEnd, end;
    RowBytes(row, begin, contentEnd, end);
    out.start = RowStartOffset(row);
    out.bLineEnd = !m_bHex && contentEnd != end;
    out.text.clear();
    out.offset.clear();
    if (m_bHex) {
        const int n = static_cast<int>(contentEnd - begin) * kHexGroup;
        out.text.resize(n);
        out.offset.resize(n);
        FormatHexData(m_buffer.constData() + (begin - m_nStreamStart), contentEnd - begin,
                      out.text.data());
        for (int i = 0; i < n; ++i)
            out.offset[i] = out.start + i;
        out.end = out.start + n;
        return;
    }
    int offset = out.start;
    for (qint64 pos = begin; pos < contentEnd; ++pos, ++offset) {
        const unsigned char byte = ByteAt(pos);
        if (byte == '\t') {
            const int n = NextTabStop(out.text.size(), m_nColumns) - out.text.size();
            for (int i = 0; i < n; ++i) {
                out.text.append(QLatin1Char(' '));
                out.offset.append(offset);
            }
        } else {
            out.text.append(CCp437::ToUnicode(byte));
            out.offset.append(offset);
        }
    }
    out.end = offset;
}

QString CDataLayout::RowText(int row) const
{
    Cells cells;
    RowCells(row, cells);
    return cells.text;
}

int CDataLayout::CharacterCount() const
{
    if (m_bHex)
        return static_cast<int>(StreamEnd() - m_nStreamStart) * kHexGroup;
    return static_cast<int>(m_walk.text - m_rows[m_nHead].text);
}

qint64 CDataLayout::TextOrigin() const
{
    return m_bHex ? m_nStreamStart * kHexGroup : m_rows[m_nHead].text;
}

QString CDataLayout::Text(int from, int to) const
{
    const int count = CharacterCount();
    from = std::clamp(from, 0, count);
    to = std::clamp(to, from, count);
    QString out;
    out.reserve(to - from);
    if (m_bHex) {
        QChar group[kHexGroup];
        for (int i = from / kHexGroup; i * kHexGroup < to; ++i) {
            HexGroup(ByteAt(m_nStreamStart + i), group);
            const int first = std::max(from - i * kHexGroup, 0);
            const int last = std::min(to - i * kHexGroup, kHexGroup);
            out.append(group + first, last - first);
        }
        return out;
    }
    int offset = from;
    for (int row = RowOfOffset(from); offset < to && row < RowCount(); ++row) {
        qint64 begin, contentEnd, end;
        RowBytes(row, begin, contentEnd, end);
        const int start = RowStartOffset(row);
        for (qint64 pos = begin + (offset - start); pos < contentEnd && offset < to;
             ++pos, ++offset) {
            const unsigned char byte = ByteAt(pos);
            out.append(byte == '\t' ? QLatin1Char('\t') : CCp437::ToUnicode(byte));
        }
        if (offset < to && contentEnd != end) {
            out.append(QLatin1Char('\n'));
            ++offset;
        }
    }
    return out;
}
