#pragma once
// The rows of the data window for a given width, kept up to date block by
// block so that a refresh costs what was appended and what is visible, not
// what is buffered.
//
// The shown text: in text mode every byte is its code page 437 glyph, CR LF,
// LF and a lone CR each end a line (shown as one "\n"), TAB advances to the
// next multiple of 8 columns of its row; lines wrap at the width in whole
// cells. In hex mode every byte is "[XX] " and rows hold floor(width / 5)
// groups (at least one); there are no line ends.
//
// Text offsets count the characters of the shown text from the first buffered
// byte. Absolute text positions (TextOrigin() + offset) stay the same for the
// same byte while the buffer grows and its front is trimmed, so a selection
// kept in them survives refreshes.
// User-interface thread (owned by the data view).

#include "CReceiveBuffer.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QVector>
#include <vector>

class CDataLayout
{
public:
    CDataLayout();

    enum class Update
    {
        Continued, // the previous layout was extended (and its front dropped)
        Fresh,     // laid out from scratch, text positions start anew
    };
    // The buffer's bytes; streamStart is the stream position of buffer[0].
    // Continues the layout from the previous call when the new buffer extends
    // it (appended tail, front trimmed); otherwise lays it out afresh.
    Update SetBuffer(const QByteArray& buffer, qint64 streamStart, bool bHex);
    // Whether SetBuffer with these arguments would continue the layout.
    bool Continues(const QByteArray& buffer, qint64 streamStart, bool bHex) const;
    // The receive buffer as the window is to show it. Continues the layout
    // when the snapshot is of the same generation and mode and extends what
    // was laid out (appended tail, front trimmed); otherwise lays it out
    // afresh. The layout shares the snapshot's bytes; it copies none.
    Update SetSnapshot(const CReceiveSnapshot& snapshot);
    bool Continues(const CReceiveSnapshot& snapshot) const;
    // Forgets everything; the next SetBuffer starts afresh.
    void Clear();

    // Width in character cells (at least 1). A change relays out text mode.
    void SetColumns(int nColumns);
    int Columns() const { return m_nColumns; }

    bool IsHex() const { return m_bHex; }
    // The bytes laid out, [StreamStart(), StreamEnd()).
    QByteArrayView Bytes() const
    {
        return QByteArrayView(m_buffer.constData(), qsizetype(m_nEnd - m_nStreamStart));
    }
    QByteArray Buffer() const { return Bytes().toByteArray(); }
    qint64 StreamStart() const { return m_nStreamStart; }
    qint64 StreamEnd() const { return m_nEnd; }
    quint64 Generation() const { return m_nGeneration; }
    // Number of complete layouts done since construction (the rest were
    // incremental).
    int RebuildCount() const { return m_nRebuilds; }

    // Rows: always at least one (an empty buffer shows one empty row).
    int RowCount() const;
    // A row as painted: one character per cell, tabs expanded to spaces.
    QString RowText(int row) const;

    struct Cells
    {
        QString text;        // one character per cell
        QVector<int> offset; // text offset of the character in each cell
        int start = 0;       // text offset of the row's first character
        int end = 0;         // text offset after its last (before its line end)
        bool bLineEnd = false;
    };
    void RowCells(int row, Cells& out) const;

    int RowStartOffset(int row) const;
    // Offset after the row's content, where its "\n" is when it ends a line.
    int RowEndOffset(int row) const;
    bool RowEndsLine(int row) const;
    int RowOfOffset(int offset) const;
    // The text offset nearest to the boundary before cell `cell` of a row.
    int OffsetAtCell(int row, int cell) const;
    // The text offset of the character that shows the byte at a stream
    // position (both bytes of CR LF map to its one "\n").
    int OffsetOfPosition(qint64 pos) const;
    // The stream position of the byte shown at a text offset: where a
    // selection's edge lies in the bytes. A line end stands for its CR LF
    // (both bytes); in hex mode an offset inside a group counts as that
    // group's start, or with bRoundUp as its end.
    qint64 PositionOfOffset(int offset, bool bRoundUp = false) const;

    int CharacterCount() const;
    qint64 TextOrigin() const;
    // The shown text between two offsets; tabs stay "\t", line ends are "\n".
    QString Text(int from, int to) const;

private:
    struct Row
    {
        qint64 pos;  // stream position of the row's first byte
        qint64 text; // absolute text position of its first character
    };
    struct Walk
    {
        int col = 0;
        bool bAfterCR = false;
        qint64 text = 0; // absolute text position at the walk's end
    };

    // Lays out the snapshot: continuing what was laid out, or afresh.
    Update Take(const CReceiveSnapshot& snap, bool bContinues);
    void Rebuild(qint64 textOrigin);
    void Append(qint64 from, qint64 to);
    void TrimFront();
    bool Step(unsigned char byte, qint64 pos, Walk& walk, std::vector<Row>& rows) const;
    int GroupsPerRow() const;
    // Byte range [begin, contentEnd) of a row's content and its full end.
    void RowBytes(int row, qint64& begin, qint64& contentEnd, qint64& end) const;
    unsigned char ByteAt(qint64 pos) const
    {
        return static_cast<unsigned char>(m_buffer.constData()[pos - m_nStreamStart]);
    }
    QByteArray m_buffer; // shared with the receive buffer; may reach past m_nEnd
    qint64 m_nStreamStart = 0;
    qint64 m_nEnd = 0;
    quint64 m_nGeneration = 0;
    bool m_bHex = false;
    bool m_bValid = false;
    int m_nColumns = 80;
    int m_nRebuilds = 0;

    // Text mode: the start of every row, from m_nHead on (the rows before it
    // were trimmed and are dropped in batches).
    std::vector<Row> m_rows;
    size_t m_nHead = 0;
    Walk m_walk; // state at the end of the buffer
};
