#include "CPlotCommand.h"

#include "CDataView.h"
#include "CPlotWindow.h"

#include <QAction>
#include <QMenu>

CPlotCommand::CPlotCommand(QWidget* pWindow, CDataView* pView, CReceiveBuffer& buffer)
    : QObject(pView), m_pWindow(pWindow), m_buffer(buffer)
{
    connect(pView, &CDataView::ContextMenuOpening, this, &CPlotCommand::AddToMenu);
}

CPlotCommand::~CPlotCommand()
{
    Detach();
    delete m_pPlot;
}

void CPlotCommand::AddToMenu(QMenu* pMenu)
{
    pMenu->addSeparator();
    connect(pMenu->addAction(tr("Plot Numbers")), &QAction::triggered, this, &CPlotCommand::Open);
}

void CPlotCommand::Open()
{
    if (m_pPlot) {
        m_pPlot->raise();
        m_pPlot->activateWindow();
        return;
    }
    m_pPlot = new CPlotWindow(m_pWindow);
    connect(m_pPlot, &QObject::destroyed, this, &CPlotCommand::Detach);
    m_pPlot->show();
    // What the buffer holds now, then every append.
    m_reader = m_buffer.ReaderAtFront();
    m_buffer.SetListener(this);
    Read();
}

void CPlotCommand::Detach()
{
    m_buffer.SetListener(nullptr);
}

void CPlotCommand::Read()
{
    if (!m_pPlot)
        return;
    CReceiveBuffer::News news;
    if (!m_buffer.ReadNews(m_reader, &news))
        return;
    if (news.bCleared)
        m_pPlot->Clear();
    // The buffer trimmed bytes before they were read (the user-interface
    // thread fell far behind a fast line).
    m_pPlot->Skip(news.nSkipped);
    if (news.bytes.isEmpty())
        return;
    PlotTimes times;
    for (const CArrivalTimes::Mark& m : news.marks)
        times.append(
            SPlotTimeMark{m.nPos, m.nWallUs == CArrivalTimes::kNoTime ? kPlotNoTime : m.nWallUs});
    m_pPlot->Feed(news.bytes.constData(), news.bytes.size(), times);
}
