#pragma once
// Turns received bytes, fed in blocks as they came, into rows of values for
// a sink (the series store, or whatever writes them on). Blocks may split
// anywhere, a line may span any number of them. A line ends at CR, LF or
// CR LF (also split between two blocks): an empty line gives nothing. Each
// line is read by CPlotLineParser's rules, and its values carry the arrival
// time of the line's first byte.
//
// Bounded: a line keeps at most kMaxLineBytes bytes. The rest of a longer
// line is ignored up to its line end, and of the part kept only what
// stands before its last separator counts (a number there may have been
// cut), unless the cut fell on a separator; such lines are counted. A line
// whose first byte has no arrival time (the echo of what was sent) gives no
// values; those that had some are counted. Bytes lost before they could be
// fed (Skip) end the line being read without its values, and the bytes
// after them up to the next line end are ignored too: their line's
// beginning is gone. The lost bytes are counted.
//
// A plain object, used by one thread at a time: the plot window's
// user-interface thread, or the log reader's only thread.

#include "CPlotLineParser.h"
#include "PlotTypes.h"

#include <QByteArray>
#include <vector>

class CPlotParser : public CPlotFeed
{
public:
    static constexpr qsizetype kMaxLineBytes = 4096;

    struct SCounts
    {
        qint64 nRows = 0;         // lines that gave values
        qint64 nLongLines = 0;    // lines cut at kMaxLineBytes
        qint64 nUntimedLines = 0; // lines with values but no arrival time
        qint64 nNonFinite = 0;    // numbers skipped: nan, inf, out of range
        qint64 nLostBytes = 0;    // bytes lost before they were fed (Skip)
    };

    explicit CPlotParser(CPlotRowSink& sink);

    void Feed(const char* p, qsizetype n, const PlotTimes& times) override;
    // Forgets the line being read and the counts, and clears the sink.
    void Clear() override;
    // The input ended: a line without a line end is read as if it had one.
    void Finish();
    // nBytes received bytes were lost between the last Feed and the next.
    void Skip(qint64 nBytes);

    const SCounts& Counts() const { return m_counts; }
    // Bytes of the line being read held now (at most kMaxLineBytes).
    qsizetype PendingBytes() const { return m_line.size(); }

private:
    void Append(const char* p, qsizetype n);
    void EndLine();
    QByteArrayView PositionLabel(int nPosition);

    CPlotRowSink& m_sink;
    CPlotLineParser m_lineParser;
    QByteArray m_line;
    bool m_bInLine = false; // the line being read has a byte
    qint64 m_nLineTime = kPlotNoTime;
    bool m_bCut = false;            // bytes of this line were ignored
    bool m_bCutAtSeparator = false; // the first of them was a separator
    bool m_bAfterGap = false;       // bytes up to the next line end follow lost ones
    SCounts m_counts;
    std::vector<CPlotLineParser::SItem> m_items;
    std::vector<SPlotValue> m_values;
    std::vector<QByteArray> m_positionLabels; // "1", "2", ...
};
