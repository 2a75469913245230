// The data window's rows and shown text, without a widget: the code page 437
// table, text and hex rows at a width, and the incremental layout against a
// layout made from scratch.

#include "CDataLayout.h"
#include "Cp437.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {

// A literal's bytes, zero bytes included.
template <size_t N> QByteArray Bytes(const char (&text)[N])
{
    return QByteArray(text, N - 1);
}

QStringList Rows(const CDataLayout& layout)
{
    QStringList rows;
    for (int i = 0; i < layout.RowCount(); ++i)
        rows.append(layout.RowText(i));
    return rows;
}

CDataLayout Laid(const QByteArray& bytes, int nColumns, bool bHex)
{
    CDataLayout layout;
    layout.SetColumns(nColumns);
    layout.SetBuffer(bytes, 0, bHex);
    return layout;
}

// An independent statement of the text rows: split into lines first, then
// wrap each line in whole cells with tabs to the next multiple of 8.
QStringList ReferenceRows(const QByteArray& bytes, int nColumns)
{
    QList<QByteArray> lines{QByteArray()};
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
                ++i;
            lines.append(QByteArray());
        } else {
            lines.last().append(c);
        }
    }
    QStringList rows;
    for (const QByteArray& line : lines) {
        QString row;
        for (char c : line) {
            if (row.size() >= nColumns) {
                rows.append(row);
                row.clear();
            }
            if (c == '\t') {
                const int stop = std::min<int>((row.size() / 8 + 1) * 8, nColumns);
                row.append(QString(stop - row.size(), QLatin1Char(' ')));
            } else {
                row.append(CCp437::ToUnicode(static_cast<unsigned char>(c)));
            }
        }
        rows.append(row);
    }
    return rows;
}

QString ReferenceText(const QByteArray& bytes)
{
    QString text;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
                ++i;
            text.append(QLatin1Char('\n'));
        } else {
            text.append(c == '\t' ? QChar(QLatin1Char('\t')) : CCp437::ToUnicode(c));
        }
    }
    return text;
}

QString ReferenceHex(const QByteArray& bytes)
{
    QString text;
    for (char c : bytes)
        text += QString::asprintf("[%-2.2X] ", static_cast<unsigned char>(c));
    return text;
}

// Everything observable about a layout, for comparing two of them.
void CompareLayouts(const CDataLayout& actual, const CDataLayout& expected)
{
    QCOMPARE(actual.RowCount(), expected.RowCount());
    QCOMPARE(actual.CharacterCount(), expected.CharacterCount());
    for (int row = 0; row < expected.RowCount(); ++row) {
        QCOMPARE(actual.RowText(row), expected.RowText(row));
        QCOMPARE(actual.RowStartOffset(row), expected.RowStartOffset(row));
        QCOMPARE(actual.RowEndOffset(row), expected.RowEndOffset(row));
        QCOMPARE(actual.RowEndsLine(row), expected.RowEndsLine(row));
    }
    QCOMPARE(actual.Text(0, actual.CharacterCount()), expected.Text(0, expected.CharacterCount()));
}

QByteArray RandomBlock(QRandomGenerator& rng, int nMax)
{
    static const char kAlphabet[] = "abcdefgh \r\r\n\n\n\t\x00\x01\xff\xb0";
    const int n = static_cast<int>(rng.bounded(1, nMax + 1));
    QByteArray block;
    for (int i = 0; i < n; ++i) {
        // Mostly letters; line ends, tabs and control bytes often enough to
        // meet each other at block edges.
        if (rng.bounded(4) == 0)
            block.append(kAlphabet[8 + rng.bounded(int(sizeof(kAlphabet)) - 9)]);
        else
            block.append(kAlphabet[rng.bounded(8)]);
    }
    return block;
}

} // namespace

class TestDataLayout : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cp437Glyphs_data();
    void cp437Glyphs();
    void cp437EveryByteVisible();

    void hexText();
    void hexRows_data();
    void hexRows();

    void textRows_data();
    void textRows();
    void textShownAndOffsets();
    void offsetAtCell();

    void crLfSplitAcrossBlocks();
    void trimBetweenCrAndLf();
    void trimInsideLongLine();
    void incrementalMatchesScratch_data();
    void incrementalMatchesScratch();
    void inconsistentPositionsStartAfresh();
    void widthChangeKeepsTextPositions();
};

void TestDataLayout::cp437Glyphs_data()
{
    QTest::addColumn<int>("byte");
    QTest::addColumn<int>("unicode");
    QTest::newRow("0x01 smiley") << 0x01 << 0x263A;
    QTest::newRow("0x0D note") << 0x0D << 0x266A;
    QTest::newRow("0x1B left arrow") << 0x1B << 0x2190;
    QTest::newRow("0x1F down triangle") << 0x1F << 0x25BC;
    QTest::newRow("0x41 A") << 0x41 << 0x41;
    QTest::newRow("0x7F house") << 0x7F << 0x2302;
    QTest::newRow("0x80 C cedilla") << 0x80 << 0x00C7;
    QTest::newRow("0x9E peseta") << 0x9E << 0x20A7;
    QTest::newRow("0xB0 light shade") << 0xB0 << 0x2591;
    QTest::newRow("0xC5 box cross") << 0xC5 << 0x253C;
    QTest::newRow("0xDB full block") << 0xDB << 0x2588;
    QTest::newRow("0xE1 sharp s") << 0xE1 << 0x00DF;
    QTest::newRow("0xFE square") << 0xFE << 0x25A0;
    QTest::newRow("0xFF no-break space") << 0xFF << 0x00A0;
}

void TestDataLayout::cp437Glyphs()
{
    QFETCH(int, byte);
    QFETCH(int, unicode);
    QCOMPARE(CCp437::ToUnicode(static_cast<unsigned char>(byte)).unicode(), unicode);
}

void TestDataLayout::cp437EveryByteVisible()
{
    // No byte may decode to a control character (a zero would cut the text
    // short), and apart from the blank zero byte every glyph is distinct.
    QSet<char16_t> seen;
    for (int b = 0; b < 256; ++b) {
        const QChar ch = CCp437::ToUnicode(static_cast<unsigned char>(b));
        QVERIFY2(ch.category() != QChar::Other_Control, qPrintable(QString::number(b, 16)));
        if (b != 0)
            seen.insert(ch.unicode());
    }
    QCOMPARE(seen.size(), 255);
    const char data[] = {'a', 0, 'b'};
    QCOMPARE(CCp437::Decode(data, 3).size(), 3);
}

void TestDataLayout::hexText()
{
    const CDataLayout layout = Laid(QByteArray("\x41\x0D\xFF"), 80, true);
    QCOMPARE(layout.CharacterCount(), 15);
    QCOMPARE(layout.Text(0, 15), QStringLiteral("[41] [0D] [FF] "));
    QCOMPARE(layout.Text(6, 9), QStringLiteral("0D]"));
    QCOMPARE(layout.RowEndsLine(0), false);

    QRandomGenerator rng(7);
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(static_cast<char>(i));
    const CDataLayout every = Laid(all, 33, true);
    QCOMPARE(every.Text(0, every.CharacterCount()), ReferenceHex(all));
    QCOMPARE(every.Text(501, 777), ReferenceHex(all).mid(501, 777 - 501));
}

void TestDataLayout::hexRows_data()
{
    QTest::addColumn<int>("columns");
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("12 columns: 2 groups") << 12 << QStringList{"[41] [0D] ", "[FF] "};
    QTest::newRow("15 columns: all 3") << 15 << QStringList{"[41] [0D] [FF] "};
    QTest::newRow("14 columns: never split a group") << 14 << QStringList{"[41] [0D] ", "[FF] "};
    QTest::newRow("3 columns: still one group") << 3 << QStringList{"[41] ", "[0D] ", "[FF] "};
}

void TestDataLayout::hexRows()
{
    QFETCH(int, columns);
    QFETCH(QStringList, rows);
    const CDataLayout layout = Laid(QByteArray("\x41\x0D\xFF"), columns, true);
    QCOMPARE(Rows(layout), rows);
    int offset = 0;
    for (int row = 0; row < rows.size(); ++row) {
        QCOMPARE(layout.RowStartOffset(row), offset);
        offset += rows[row].size();
        QCOMPARE(layout.RowEndOffset(row), offset);
        QCOMPARE(layout.RowOfOffset(offset - 1), row);
    }
}

void TestDataLayout::textRows_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("columns");
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("empty: one empty row") << QByteArray() << 10 << QStringList{""};
    QTest::newRow("CR LF") << QByteArray("ab\r\ncd") << 10 << QStringList{"ab", "cd"};
    QTest::newRow("LF") << QByteArray("ab\ncd") << 10 << QStringList{"ab", "cd"};
    QTest::newRow("lone CR") << QByteArray("ab\rcd") << 10 << QStringList{"ab", "cd"};
    QTest::newRow("LF CR: two line ends")
        << QByteArray("ab\n\rcd") << 10 << QStringList{"ab", "", "cd"};
    QTest::newRow("CR CR LF") << QByteArray("a\r\r\nb") << 10 << QStringList{"a", "", "b"};
    QTest::newRow("trailing line end: empty last row")
        << QByteArray("ab\r\n") << 10 << QStringList{"ab", ""};
    QTest::newRow("tab to column 8") << QByteArray("a\tb") << 20 << QStringList{"a       b"};
    QTest::newRow("tab on a stop: a full 8")
        << QByteArray("12345678\tx") << 20 << QStringList{"12345678        x"};
    QTest::newRow("wrap in whole cells")
        << QByteArray("abcdefghij") << 4 << QStringList{"abcd", "efgh", "ij"};
    QTest::newRow("full row then line end: no empty row")
        << QByteArray("abcd\nx") << 4 << QStringList{"abcd", "x"};
    QTest::newRow("tab fills the row end")
        << QByteArray("abcdef\tx") << 8 << QStringList{"abcdef  ", "x"};
    QTest::newRow("tab in a narrow view") << QByteArray("a\tb") << 5 << QStringList{"a    ", "b"};
    QTest::newRow("zero byte does not hide the rest")
        << Bytes("a\0b\r\nc") << 10 << QStringList{"a b", "c"};
    QTest::newRow("control bytes as glyphs")
        << QByteArray("\x01\x1b\x7f\x0b\x0c") << 10 << QStringList{"☺←⌂♂♀"};
    QTest::newRow("high bytes") << QByteArray("\x80\xb0\xdb\xe1") << 10 << QStringList{"Ç░█ß"};
}

void TestDataLayout::textRows()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, columns);
    QFETCH(QStringList, rows);
    const CDataLayout layout = Laid(bytes, columns, false);
    QCOMPARE(Rows(layout), rows);
    QCOMPARE(ReferenceRows(bytes, columns), rows);
}

void TestDataLayout::textShownAndOffsets()
{
    // Rows: "ab" | "cd" "\tx" wrapped at 4 ... laid out at 4 columns.
    const QByteArray bytes("ab\r\ncdef\tx\ry");
    const CDataLayout layout = Laid(bytes, 4, false);
    QCOMPARE(Rows(layout), (QStringList{"ab", "cdef", "    ", "x", "y"}));
    const QString shown = QStringLiteral("ab\ncdef\tx\ny");
    QCOMPARE(layout.CharacterCount(), shown.size());
    QCOMPARE(layout.Text(0, layout.CharacterCount()), shown);
    QCOMPARE(layout.Text(1, 4), QStringLiteral("b\nc"));
    QCOMPARE(layout.Text(-5, 99), shown);

    // Wrapped rows join without a break; line ends give the "\n".
    QCOMPARE(layout.RowEndsLine(0), true);
    QCOMPARE(layout.RowEndsLine(1), false);
    QCOMPARE(layout.RowEndsLine(3), true);
    QCOMPARE(layout.RowStartOffset(1), 3);
    QCOMPARE(layout.RowEndOffset(0), 2);
    QCOMPARE(layout.RowOfOffset(2), 0); // the "\n" belongs to its row
    QCOMPARE(layout.RowOfOffset(3), 1);
    QCOMPARE(layout.RowOfOffset(shown.size()), 4);

    // Both bytes of CR LF show as the one "\n".
    QCOMPARE(layout.OffsetOfPosition(2), 2);
    QCOMPARE(layout.OffsetOfPosition(3), 2);
    QCOMPARE(layout.OffsetOfPosition(4), 3);
    QCOMPARE(layout.OffsetOfPosition(bytes.size()), shown.size());

    // And back: a selection's edges in the bytes. The "\n" stands for both
    // bytes of CR LF; a wrapped row's edge is the next byte.
    QCOMPARE(layout.PositionOfOffset(2), qint64(2)); // before the "\n"
    QCOMPARE(layout.PositionOfOffset(3), qint64(4)); // after it: CR LF both passed
    QCOMPARE(layout.PositionOfOffset(7), qint64(8)); // "cdef|" then the tab
    QCOMPARE(layout.PositionOfOffset(shown.size()), qint64(bytes.size()));
    // In hex, an offset inside a group rounds to its start, or its end.
    const CDataLayout hex = Laid(bytes, 12, true);
    QCOMPARE(hex.PositionOfOffset(7), qint64(1));
    QCOMPARE(hex.PositionOfOffset(7, true), qint64(2));
    QCOMPARE(hex.PositionOfOffset(10, true), qint64(2));
}

void TestDataLayout::offsetAtCell()
{
    const CDataLayout layout = Laid(QByteArray("ab\tc\r\nxy"), 20, false);
    QCOMPARE(layout.OffsetAtCell(0, 0), 0);
    QCOMPARE(layout.OffsetAtCell(0, 2), 2);  // before the tab
    QCOMPARE(layout.OffsetAtCell(0, 4), 2);  // nearer its start
    QCOMPARE(layout.OffsetAtCell(0, 6), 3);  // nearer its end
    QCOMPARE(layout.OffsetAtCell(0, 8), 3);  // before "c"
    QCOMPARE(layout.OffsetAtCell(0, 15), 4); // past the end: before the "\n"
    QCOMPARE(layout.OffsetAtCell(1, 1), 6);

    CDataLayout::Cells cells;
    layout.RowCells(0, cells);
    QCOMPARE(cells.text, QStringLiteral("ab      c"));
    QCOMPARE(cells.offset, (QVector<int>{0, 1, 2, 2, 2, 2, 2, 2, 3}));
    QVERIFY(cells.bLineEnd);
    QCOMPARE(cells.end, 4);

    const CDataLayout hex = Laid(QByteArray("\x01\x02\x03"), 10, true);
    QCOMPARE(hex.OffsetAtCell(1, 3), 13);
    QCOMPARE(hex.OffsetAtCell(1, 9), 15);
}

void TestDataLayout::crLfSplitAcrossBlocks()
{
    // CR ends one block, LF starts the next: still one line end.
    CDataLayout layout;
    layout.SetColumns(10);
    layout.SetBuffer(QByteArray("ab\r"), 0, false);
    QCOMPARE(Rows(layout), (QStringList{"ab", ""}));
    QCOMPARE(layout.SetBuffer(QByteArray("ab\r\ncd"), 0, false), CDataLayout::Update::Continued);
    QCOMPARE(Rows(layout), (QStringList{"ab", "cd"}));
    QCOMPARE(layout.Text(0, layout.CharacterCount()), QStringLiteral("ab\ncd"));
    QCOMPARE(layout.RebuildCount(), 1);
}

void TestDataLayout::trimBetweenCrAndLf()
{
    // The front is trimmed right after a CR: the buffer starts with a lone
    // LF, which is a line end of its own, as in a layout from scratch.
    CDataLayout layout;
    layout.SetColumns(10);
    layout.SetBuffer(QByteArray("abc\r\nxy\r\nz"), 0, false);
    const qint64 abs = layout.TextOrigin() + layout.OffsetOfPosition(5); // "x"
    layout.SetBuffer(QByteArray("\nxy\r\nzq"), 4, false);
    CompareLayouts(layout, Laid(QByteArray("\nxy\r\nzq"), 10, false));
    QCOMPARE(Rows(layout), (QStringList{"", "xy", "zq"}));
    // Text positions of what stays keep their absolute value.
    QCOMPARE(layout.TextOrigin() + layout.OffsetOfPosition(5), abs);
    QCOMPARE(layout.RebuildCount(), 1);
}

void TestDataLayout::trimInsideLongLine()
{
    // The front is trimmed inside the line that is still open: it rewraps
    // from its new first byte.
    CDataLayout layout;
    layout.SetColumns(4);
    layout.SetBuffer(QByteArray("12\r\nabcdefghij"), 0, false);
    layout.SetBuffer(QByteArray("cdefghijkl"), 6, false);
    QCOMPARE(Rows(layout), (QStringList{"cdef", "ghij", "kl"}));
    CompareLayouts(layout, Laid(QByteArray("cdefghijkl"), 4, false));
    // Then a line end arrives; trimmed again inside the now closed line.
    layout.SetBuffer(QByteArray("cdefghijkl\nmn\tp"), 6, false);
    layout.SetBuffer(QByteArray("fghijkl\nmn\tp"), 9, false);
    CompareLayouts(layout, Laid(QByteArray("fghijkl\nmn\tp"), 4, false));
    QCOMPARE(layout.RebuildCount(), 1);
}

void TestDataLayout::incrementalMatchesScratch_data()
{
    QTest::addColumn<int>("columns");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<int>("seed");
    QTest::newRow("text, 1 column") << 1 << false << 1;
    QTest::newRow("text, 7 columns") << 7 << false << 2;
    QTest::newRow("text, 8 columns") << 8 << false << 3;
    QTest::newRow("text, 13 columns") << 13 << false << 4;
    QTest::newRow("text, 80 columns") << 80 << false << 5;
    QTest::newRow("hex, 12 columns") << 12 << true << 6;
    QTest::newRow("hex, 80 columns") << 80 << true << 7;
}

void TestDataLayout::incrementalMatchesScratch()
{
    QFETCH(int, columns);
    QFETCH(bool, hex);
    QFETCH(int, seed);
    // The owner's rules in small: above kCap bytes the first kCap / 2 go.
    constexpr int kCap = 1200;
    QRandomGenerator rng(static_cast<quint32>(seed));
    CDataLayout layout;
    layout.SetColumns(columns);
    QByteArray buffer;
    qint64 streamStart = 0;
    int nTrims = 0;
    for (int step = 0; step < 400; ++step) {
        buffer += RandomBlock(rng, step % 50 == 0 ? 700 : 40);
        if (buffer.size() > kCap) {
            buffer.remove(0, kCap / 2);
            streamStart += kCap / 2;
            ++nTrims;
        }
        // What stays of the old text is the start of the new one: the view
        // reports a trim as a removal at 0 of the old text up to the new
        // first byte, and the appended text after the old end.
        const int nRemoved = step == 0 ? 0 : layout.OffsetOfPosition(streamStart);
        const qint64 oldEnd = layout.TextOrigin() + layout.CharacterCount();
        const QString oldText = layout.Text(nRemoved, layout.CharacterCount());
        QCOMPARE(layout.SetBuffer(buffer, streamStart, hex),
                 step == 0 ? CDataLayout::Update::Fresh : CDataLayout::Update::Continued);
        if (step > 0)
            QCOMPARE(layout.Text(0, static_cast<int>(oldEnd - layout.TextOrigin())), oldText);
        const CDataLayout scratch = Laid(buffer, columns, hex);
        CompareLayouts(layout, scratch);
        if (QTest::currentTestFailed()) {
            qWarning() << "step" << step << "buffer" << buffer.toHex();
            return;
        }
        if (!hex) {
            QCOMPARE(Rows(layout), ReferenceRows(buffer, columns));
            QCOMPARE(layout.Text(0, layout.CharacterCount()), ReferenceText(buffer));
        } else {
            QCOMPARE(layout.Text(0, layout.CharacterCount()), ReferenceHex(buffer));
        }
    }
    QVERIFY(nTrims > 10);
    QCOMPARE(layout.RebuildCount(), 1);
}

void TestDataLayout::inconsistentPositionsStartAfresh()
{
    CDataLayout layout;
    layout.SetColumns(10);
    layout.SetBuffer(QByteArray("hello\r\n"), 100, false);
    // Going back in the stream, a gap, other bytes, a mode change: each is
    // laid out from scratch.
    QCOMPARE(layout.SetBuffer(QByteArray("x"), 50, false), CDataLayout::Update::Fresh);
    QCOMPARE(Rows(layout), QStringList{"x"});
    QCOMPARE(layout.SetBuffer(QByteArray("yz"), 60, false), CDataLayout::Update::Fresh);
    QCOMPARE(layout.SetBuffer(QByteArray("qz!"), 60, false), CDataLayout::Update::Fresh);
    QCOMPARE(Rows(layout), QStringList{"qz!"});
    QCOMPARE(layout.SetBuffer(QByteArray("qz!"), 60, true), CDataLayout::Update::Fresh);
    QCOMPARE(Rows(layout), QStringList{"[71] [7A] "} << "[21] ");
    QCOMPARE(layout.SetBuffer(QByteArray("qz!?"), 60, true), CDataLayout::Update::Continued);
    layout.Clear();
    QCOMPARE(layout.RowCount(), 1);
    QCOMPARE(layout.CharacterCount(), 0);
    QCOMPARE(layout.SetBuffer(QByteArray("qz!?"), 60, true), CDataLayout::Update::Fresh);
}

void TestDataLayout::widthChangeKeepsTextPositions()
{
    CDataLayout layout;
    layout.SetColumns(5);
    layout.SetBuffer(QByteArray("0123456789\r\nabc"), 10, false);
    layout.SetBuffer(QByteArray("89\r\nabc"), 18, false);
    const qint64 origin = layout.TextOrigin();
    const int nRebuilds = layout.RebuildCount();
    layout.SetColumns(2);
    QCOMPARE(layout.RebuildCount(), nRebuilds + 1);
    QCOMPARE(layout.TextOrigin(), origin);
    QCOMPARE(Rows(layout), (QStringList{"89", "ab", "c"}));
    layout.SetColumns(2); // unchanged: nothing to do
    QCOMPARE(layout.RebuildCount(), nRebuilds + 1);
}

QTEST_GUILESS_MAIN(TestDataLayout)
#include "tst_datalayout.moc"
