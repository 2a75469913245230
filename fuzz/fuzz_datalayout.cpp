// The data window's rows under arbitrary bytes, widths and modes: bytes are
// appended in arbitrary pieces, the front is trimmed, the width and the mode
// change. After every step the layout must keep the text positions of the
// bytes that stayed; every few steps it must have the rows of one made from
// scratch of the same bytes; at the end every row is checked against what
// the header promises: text rows wrapped in whole cells within the width
// (told independently), hex rows of whole "[XX] " groups, offsets that follow
// row to row and cell to cell, the shown text. Single-threaded.

#include "CDataLayout.h"
#include "Cp437.h"
#include "FuzzCheck.h"

#include <QStringList>
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

constexpr int kMaxColumns = 200;
// The owner's rule in small: above kCap bytes the first half goes.
constexpr int kCap = 16384;

// The shown text told independently of the layout: one "\n" per CR LF, CR
// or LF, tabs kept, in hex "[XX] " per byte.
QString ShownText(const QByteArray& bytes, bool bHex)
{
    static const char kDigits[] = "0123456789ABCDEF";
    QString text;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (bHex) {
            const char group[] = {'[', kDigits[c >> 4], kDigits[c & 15], ']', ' '};
            text += QLatin1String(group, 5);
        } else if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
                ++i;
            text += QLatin1Char('\n');
        } else {
            text += c == '\t' ? QChar(QLatin1Char('\t')) : CCp437::ToUnicode(c);
        }
    }
    return text;
}

// The text rows told independently: lines first, then each wrapped in whole
// cells, a tab reaching the next multiple of 8 (at most the row's end).
QStringList WrappedRows(const QByteArray& bytes, int nColumns)
{
    QStringList rows{QString()};
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
                ++i;
            rows.append(QString());
            continue;
        }
        if (rows.last().size() >= nColumns)
            rows.append(QString());
        QString& row = rows.last();
        if (c == '\t')
            row += QString(std::min<int>((row.size() / 8 + 1) * 8, nColumns) - row.size(),
                           QLatin1Char(' '));
        else
            row += CCp437::ToUnicode(c);
    }
    return rows;
}

void CheckRows(const CDataLayout& layout)
{
    const int nRows = layout.RowCount();
    const int nGroups = std::max(1, layout.Columns() / 5);
    FUZZ_CHECK(nRows >= 1);
    FUZZ_CHECK(layout.RowStartOffset(0) == 0);
    QString painted; // the hex rows in order
    for (int row = 0; row < nRows; ++row) {
        const QString text = layout.RowText(row);
        const int start = layout.RowStartOffset(row);
        const int end = layout.RowEndOffset(row);
        FUZZ_CHECK(start <= end);
        FUZZ_CHECK(layout.RowOfOffset(start) == row);
        if (row + 1 < nRows) {
            FUZZ_CHECK(layout.RowStartOffset(row + 1) == end + (layout.RowEndsLine(row) ? 1 : 0));
            // Only the last row may stay empty without ending a line.
            FUZZ_CHECK(end > start || layout.RowEndsLine(row));
        } else {
            FUZZ_CHECK(!layout.RowEndsLine(row));
            FUZZ_CHECK(end == layout.CharacterCount());
        }
        if (layout.IsHex()) {
            FUZZ_CHECK(!layout.RowEndsLine(row));
            FUZZ_CHECK(text.size() % 5 == 0 && text.size() <= nGroups * 5);
            FUZZ_CHECK(row + 1 == nRows || text.size() == nGroups * 5);
            FUZZ_CHECK(end - start == text.size());
            painted += text;
        } else {
            FUZZ_CHECK(text.size() <= layout.Columns());
            FUZZ_CHECK(text.size() >= end - start);
        }
        // Cells map to the row's characters in order, and back.
        CDataLayout::Cells cells;
        layout.RowCells(row, cells);
        FUZZ_CHECK(cells.text == text && cells.offset.size() == text.size());
        FUZZ_CHECK(cells.start == start && cells.end == end);
        for (qsizetype i = 0; i < cells.offset.size(); ++i) {
            FUZZ_CHECK(cells.offset[i] >= start && cells.offset[i] < end);
            FUZZ_CHECK(i == 0 || cells.offset[i] >= cells.offset[i - 1]);
        }
        FUZZ_CHECK(layout.OffsetAtCell(row, 0) == start);
        FUZZ_CHECK(layout.OffsetAtCell(row, int(text.size())) == end);
    }
    if (!layout.IsHex()) {
        QStringList rows;
        for (int row = 0; row < nRows; ++row)
            rows.append(layout.RowText(row));
        FUZZ_CHECK(rows == WrappedRows(layout.Buffer(), layout.Columns()));
    }
    const QString shown = ShownText(layout.Buffer(), layout.IsHex());
    if (layout.IsHex())
        FUZZ_CHECK(painted == shown);
    FUZZ_CHECK(layout.Text(0, layout.CharacterCount()) == shown);
}

// The same rows; with bText, the same painted text as well.
void CheckSame(const CDataLayout& a, const CDataLayout& b, bool bText)
{
    FUZZ_CHECK(a.RowCount() == b.RowCount());
    FUZZ_CHECK(a.CharacterCount() == b.CharacterCount());
    for (int row = 0; row < a.RowCount(); ++row) {
        FUZZ_CHECK(a.RowStartOffset(row) == b.RowStartOffset(row));
        FUZZ_CHECK(a.RowEndsLine(row) == b.RowEndsLine(row));
        FUZZ_CHECK(!bText || a.RowText(row) == b.RowText(row));
    }
}

qint64 AbsoluteText(const CDataLayout& layout, qint64 pos)
{
    return layout.TextOrigin() + layout.OffsetOfPosition(pos);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    FuzzedDataProvider fdp(pData, nSize);
    CDataLayout layout;
    layout.SetColumns(fdp.ConsumeIntegralInRange(1, kMaxColumns));
    bool bHex = fdp.ConsumeBool();
    QByteArray buffer;
    qint64 streamStart = 0;
    int nRebuilds = 0;
    for (int step = 0; fdp.remaining_bytes() > 0; ++step) {
        const bool bOldHex = bHex;
        const qint64 oldStart = streamStart;
        const qint64 oldEnd = streamStart + buffer.size();
        const int nOldColumns = layout.Columns();
        const qint64 oldOrigin = layout.TextOrigin();
        switch (fdp.ConsumeIntegralInRange(0, 9)) {
        case 0: { // the owner trims the front
            const int n = fdp.ConsumeIntegralInRange(0, int(buffer.size()));
            buffer.remove(0, n);
            streamStart += n;
            break;
        }
        case 1:
            layout.SetColumns(fdp.ConsumeIntegralInRange(-2, kMaxColumns));
            if (step > 0 && !bHex && layout.Columns() != nOldColumns)
                ++nRebuilds;
            FUZZ_CHECK(layout.TextOrigin() == oldOrigin);
            break;
        case 2:
            bHex = !bHex;
            break;
        default: { // a block, now and then many times over
            const int nTimes = fdp.ConsumeIntegralInRange(0, 63) == 0 ? 200 : 1;
            const std::vector<char> block =
                fdp.ConsumeBytes<char>(fdp.ConsumeIntegralInRange(0, 48));
            for (int i = 0; i < nTimes; ++i)
                buffer.append(block.data(), qsizetype(block.size()));
            if (buffer.size() > kCap) {
                buffer.remove(0, kCap / 2);
                streamStart += kCap / 2;
            }
            break;
        }
        }

        // Where a byte's text was before, for those that stay. A trim that
        // passed the old end leaves bytes the layout never saw between the
        // two: it has to start afresh.
        const bool bContinues = step > 0 && bHex == bOldHex && streamStart <= oldEnd;
        const qint64 keptFirst = streamStart;
        const qint64 keptLast = std::min(oldEnd, streamStart + buffer.size()) - 1;
        const bool bKept = bContinues && keptFirst <= keptLast && oldStart <= keptFirst;
        const qint64 absFirst = bKept ? AbsoluteText(layout, keptFirst) : 0;
        const qint64 absLast = bKept ? AbsoluteText(layout, keptLast) : 0;

        // The window hands on a snapshot of the receive buffer, which may hold
        // more bytes after the end it is to show; one that continues what was
        // laid out must give the same result as handing on the whole buffer.
        CDataLayout::Update update = CDataLayout::Update::Continued;
        if (bContinues && fdp.ConsumeBool()) {
            CReceiveSnapshot snap;
            snap.bytes = buffer + QByteArray(int(fdp.ConsumeIntegralInRange<int>(0, 8)), '\r');
            snap.nStart = streamStart;
            snap.nEnd = streamStart + buffer.size();
            snap.nGeneration = layout.Generation();
            snap.bHex = bHex;
            FUZZ_CHECK(layout.Continues(snap));
            update = layout.SetSnapshot(snap);
        } else {
            update = layout.SetBuffer(buffer, streamStart, bHex);
        }
        FUZZ_CHECK(layout.Buffer() == buffer && layout.StreamStart() == streamStart);
        FUZZ_CHECK((update == CDataLayout::Update::Continued) == bContinues);
        if (update == CDataLayout::Update::Fresh)
            ++nRebuilds;
        FUZZ_CHECK(layout.RebuildCount() == nRebuilds);
        if (bKept) {
            FUZZ_CHECK(AbsoluteText(layout, keptFirst) == absFirst);
            FUZZ_CHECK(AbsoluteText(layout, keptLast) == absLast);
        }

        // A layout from scratch costs what is buffered: compared every few
        // steps, the row texts and promises at the end.
        const bool bLast = fdp.remaining_bytes() == 0;
        const bool bFull = bLast;
        if (bFull || step % 4 == 0) {
            CDataLayout scratch;
            scratch.SetColumns(layout.Columns());
            scratch.SetBuffer(buffer, streamStart, bHex);
            CheckSame(layout, scratch, bFull);
        }
        if (bFull)
            CheckRows(layout);
    }
    return 0;
}
