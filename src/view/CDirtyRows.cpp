#include "CDirtyRows.h"

CDirtyRows::SPlan CDirtyRows::Plan(const std::vector<SKey>& lines)
{
    SPlan plan;
    const int n = static_cast<int>(lines.size());
    if (!m_bValid || static_cast<int>(m_shown.size()) != n) {
        for (int i = 0; i < n; ++i)
            plan.paint.push_back({i, 0});
    } else {
        // The pixels move when the new top row was shown lower (data came,
        // the view scrolled down) or the old top row is now lower (scrolled
        // up), and only when that saves painting.
        int nScroll = 0;
        for (int k = 1; k < n && lines[0].nFirst >= 0; ++k) {
            if (m_shown[k].nFirst == lines[0].nFirst) {
                nScroll = k;
                break;
            }
        }
        for (int k = 1; k < n && nScroll == 0 && m_shown[0].nFirst >= 0; ++k) {
            if (lines[k].nFirst == m_shown[0].nFirst)
                nScroll = -k;
        }
        if (nScroll != 0 && Reused(lines, nScroll) <= Reused(lines, 0))
            nScroll = 0;
        plan.nScroll = nScroll;
        for (int i = 0; i < n; ++i) {
            const int from = PaintFrom(lines, i, nScroll);
            if (from >= 0)
                plan.paint.push_back({i, from});
        }
    }
    m_shown = lines;
    m_bValid = true;
    return plan;
}

int CDirtyRows::Reused(const std::vector<SKey>& lines, int nScroll) const
{
    int n = 0;
    for (int i = 0; i < static_cast<int>(lines.size()); ++i)
        n += PaintFrom(lines, i, nScroll) != 0;
    return n;
}

int CDirtyRows::PaintFrom(const std::vector<SKey>& lines, int line, int nScroll) const
{
    const int old = line + nScroll;
    if (old < 0 || old >= static_cast<int>(m_shown.size()))
        return 0; // uncovered by the scroll
    const SKey& was = m_shown[old];
    const SKey& now = lines[line];
    if (was == now)
        return -1;
    // Grown at its end: what was there stays as it is.
    if (now.nFirst >= 0 && was.nFirst == now.nFirst && !was.bLineEnd && now.nChars >= was.nChars &&
        was.nSelFrom == now.nSelFrom && was.nSelTo == now.nSelTo && was.marks == now.marks &&
        was.strGutter == now.strGutter)
        return was.nChars;
    return 0;
}
