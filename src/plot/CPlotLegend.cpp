#include "CPlotLegend.h"

#include "CPlotStore.h"
#include "CPlotView.h"
#include "PlotCsv.h"

#include <QCheckBox>
#include <QPainter>
#include <QPixmap>
#include <QVBoxLayout>

CPlotLegend::CPlotLegend(QWidget* pParent) : QScrollArea(pParent)
{
    m_pBox = new QWidget;
    m_pLayout = new QVBoxLayout(m_pBox);
    m_pLayout->setContentsMargins(4, 4, 4, 4);
    m_pLayout->addStretch(1);
    setWidget(m_pBox);
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setAccessibleName(tr("Series"));
    setAccessibleDescription(tr("Each series with its newest value; uncheck one to hide it"));
}

void CPlotLegend::Refresh(const CPlotStore& store)
{
    while (EntryCount() < store.SeriesCount()) {
        const int nSeries = EntryCount();
        auto* pEntry = new QCheckBox(m_pBox);
        pEntry->setChecked(true);
        QPixmap swatch(12, 12);
        swatch.fill(CPlotView::SeriesColour(nSeries));
        pEntry->setIcon(QIcon(swatch));
        connect(pEntry, &QCheckBox::toggled, this,
                [this, nSeries](bool bChecked) { Q_EMIT ShownChanged(nSeries, bChecked); });
        m_pLayout->insertWidget(nSeries, pEntry);
        m_entries.push_back(pEntry);
    }
    for (int s = 0; s < store.SeriesCount(); ++s) {
        CPlotStore::SPoint point;
        const QString value = store.Last(s, &point)
                                  ? QString::fromLatin1(PlotCsv::Number(point.dValue))
                                  : tr("no value kept");
        // A '&' in a label is shown, not taken for a shortcut.
        QString label = store.LabelText(s);
        label.replace(QLatin1Char('&'), QStringLiteral("&&"));
        const QString text = label + QStringLiteral(": ") + value;
        if (m_entries[size_t(s)]->text() != text)
            m_entries[size_t(s)]->setText(text);
    }
}

void CPlotLegend::Clear()
{
    for (QCheckBox* pEntry : m_entries)
        delete pEntry;
    m_entries.clear();
}
