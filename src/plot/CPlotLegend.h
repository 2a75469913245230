#pragma once
// The plot's legend: an entry per series, in its colour, with its label and
// newest value ("temp: 21.5"). An entry is a check box: clicking it, or Space
// while it has the focus, hides or shows its series. Its text is what
// assistive technology reads, so the newest values are heard as well as
// seen.
//
// User-interface thread.

#include <QScrollArea>
#include <vector>

class CPlotStore;
class CPlotView;
class QCheckBox;
class QVBoxLayout;

class CPlotLegend : public QScrollArea
{
    Q_OBJECT
public:
    explicit CPlotLegend(QWidget* pParent = nullptr);

    // Brings the entries up to the store: an entry for each new series, the
    // newest value in each; only texts that changed are set.
    void Refresh(const CPlotStore& store);
    // Removes every entry (the store was emptied).
    void Clear();

    int EntryCount() const { return int(m_entries.size()); }
    QCheckBox* Entry(int nSeries) const { return m_entries[size_t(nSeries)]; }

Q_SIGNALS:
    void ShownChanged(int nSeries, bool bShown);

private:
    QWidget* m_pBox;
    QVBoxLayout* m_pLayout;
    std::vector<QCheckBox*> m_entries;
};
