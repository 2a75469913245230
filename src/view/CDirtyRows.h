#pragma once
// What the data window repaints after a change. It remembers what each line
// of the viewport shows, as a key per line, and for the lines to be shown now
// works out how far the pixels already drawn can move (one scroll of the
// viewport) and which lines must be painted, each from which character on: a
// row that only grew at its end is painted from its old end, any other
// change paints the whole line, and an unchanged line is not painted.
//
// The key holds everything a row's pixels are drawn from (the view's RowKey
// fills it, next to PaintRow): whatever is added to a row's painting (marks,
// a time column) must be added to the key as well.
//
// A plain object of the user-interface thread, owned by the data view.

#include <QString>
#include <QtGlobal>
#include <vector>

class CDirtyRows
{
public:
    struct SKey
    {
        // Absolute text position of the row's first character; the same
        // characters keep it while data comes and goes. -1: no row (below
        // the end).
        qint64 nFirst = -1;
        int nChars = 0;        // characters shown (a tab counts as one)
        bool bLineEnd = false; // the row ends its line
        // Selected characters of the row, [nSelFrom, nSelTo), row-relative;
        // nChars is the line end. Both 0 when none.
        int nSelFrom = 0;
        int nSelTo = 0;
        // Find's matches that touch the row, [nFrom, nTo), row-relative;
        // nChars + 1 for one that goes on past the row.
        struct SMark
        {
            int nFrom;
            int nTo;
            bool bCurrent;
            bool operator==(const SMark& o) const
            {
                return nFrom == o.nFrom && nTo == o.nTo && bCurrent == o.bCurrent;
            }
        };
        std::vector<SMark> marks;
        // What a column at the left shows for the row and marks on it (the
        // arrival times and events); empty while none is shown.
        QString strGutter;

        bool operator==(const SKey& o) const
        {
            return nFirst == o.nFirst && nChars == o.nChars && bLineEnd == o.bLineEnd &&
                   nSelFrom == o.nSelFrom && nSelTo == o.nSelTo && marks == o.marks &&
                   strGutter == o.strGutter;
        }
        bool operator!=(const SKey& o) const { return !(*this == o); }
    };

    struct SPaint
    {
        int nLine;     // line of the viewport, 0 at the top
        int nFromChar; // row-relative character from which on it is painted
    };
    struct SPlan
    {
        // Lines by which the pixels already drawn move up (negative: down);
        // the lines they uncover are among `paint`.
        int nScroll = 0;
        std::vector<SPaint> paint; // top to bottom
    };

    // Forgets what is on screen: the next plan paints every line.
    void Invalidate() { m_bValid = false; }
    // The lines shown from now on, top to bottom: how to get them on screen
    // from what is there. They count as shown from then on.
    SPlan Plan(const std::vector<SKey>& lines);

private:
    // Lines of `lines` that need no full repaint when the old lines move up
    // by nScroll.
    int Reused(const std::vector<SKey>& lines, int nScroll) const;
    // From which character line `line` is painted after a scroll of nScroll;
    // -1: not at all.
    int PaintFrom(const std::vector<SKey>& lines, int line, int nScroll) const;

    std::vector<SKey> m_shown;
    bool m_bValid = false;
};
