#include "CPlotParser.h"

#include <algorithm>

namespace {

bool IsSeparator(char c)
{
    return c == ' ' || c == '\t' || c == ',' || c == ';';
}

} // namespace

CPlotParser::CPlotParser(CPlotRowSink& sink) : m_sink(sink)
{
    m_line.reserve(kMaxLineBytes);
}

void CPlotParser::Feed(const char* p, qsizetype n, const PlotTimes& times)
{
    qsizetype nMark = 0; // the next mark to take
    qint64 nTime = kPlotNoTime;
    const auto timeAt = [&](qsizetype nOffset) {
        while (nMark < times.size() && times[nMark].nOffset <= nOffset)
            nTime = times[nMark++].nWallUs;
        return nTime;
    };

    // CR and LF each end a line; the empty line between the two of a CR LF
    // gives nothing, also when a block ends between them.
    qsizetype i = 0;
    while (i < n) {
        qsizetype j = i;
        while (j < n && p[j] != '\r' && p[j] != '\n')
            ++j;
        if (j > i && !m_bAfterGap) {
            if (!m_bInLine) {
                m_bInLine = true;
                m_nLineTime = timeAt(i);
            }
            Append(p + i, j - i);
        }
        if (j == n)
            break;
        EndLine();
        m_bAfterGap = false;
        i = j + 1;
    }
}

void CPlotParser::Append(const char* p, qsizetype n)
{
    if (m_bCut)
        return;
    const qsizetype nRoom = kMaxLineBytes - m_line.size();
    if (n <= nRoom) {
        m_line.append(p, n);
        return;
    }
    m_line.append(p, nRoom);
    m_bCut = true;
    m_bCutAtSeparator = IsSeparator(p[nRoom]);
}

void CPlotParser::EndLine()
{
    if (!m_bInLine)
        return;
    QByteArrayView line(m_line);
    if (m_bCut) {
        ++m_counts.nLongLines;
        if (!m_bCutAtSeparator) {
            const auto it = std::find_if(line.rbegin(), line.rend(), IsSeparator);
            line = line.first(line.rend() - it - (it == line.rend() ? 0 : 1));
        }
    }
    int nNonFinite = 0;
    m_lineParser.Parse(line, m_items, &nNonFinite);
    m_counts.nNonFinite += nNonFinite;
    if (!m_items.empty()) {
        if (m_nLineTime == kPlotNoTime) {
            ++m_counts.nUntimedLines;
        } else {
            m_values.clear();
            for (const CPlotLineParser::SItem& item : m_items) {
                m_values.push_back(SPlotValue{
                    item.nPosition > 0 ? PositionLabel(item.nPosition) : item.label, item.dValue});
            }
            ++m_counts.nRows;
            m_sink.AddRow(m_nLineTime, m_values.data(), qsizetype(m_values.size()));
        }
    }
    m_line.resize(0);
    m_bInLine = false;
    m_nLineTime = kPlotNoTime;
    m_bCut = false;
    m_bCutAtSeparator = false;
}

QByteArrayView CPlotParser::PositionLabel(int nPosition)
{
    while (int(m_positionLabels.size()) < nPosition)
        m_positionLabels.push_back(QByteArray::number(qint64(m_positionLabels.size()) + 1));
    return m_positionLabels[size_t(nPosition) - 1];
}

void CPlotParser::Finish()
{
    EndLine();
}

void CPlotParser::Skip(qint64 nBytes)
{
    if (nBytes <= 0)
        return;
    m_counts.nLostBytes += nBytes;
    m_line.resize(0);
    m_bInLine = false;
    m_nLineTime = kPlotNoTime;
    m_bCut = false;
    m_bCutAtSeparator = false;
    m_bAfterGap = true;
}

void CPlotParser::Clear()
{
    m_line.resize(0);
    m_bInLine = false;
    m_nLineTime = kPlotNoTime;
    m_bCut = false;
    m_bCutAtSeparator = false;
    m_bAfterGap = false;
    m_counts = SCounts();
    m_sink.ClearRows();
}
