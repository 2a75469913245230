#include "CPlotSaveJob.h"

#include "PlotFile.h"

#include <QThread>

CPlotSaveJob::CPlotSaveJob(QObject* pParent) : QObject(pParent) {}

CPlotSaveJob::~CPlotSaveJob()
{
    if (m_pThread) {
        m_pThread->wait();
        delete m_pThread;
    }
}

bool CPlotSaveJob::Start(const QString& path, WriteFn write)
{
    if (m_pThread)
        return false;
    m_path = path;
    m_pResult = std::make_shared<SResult>();
    auto pResult = m_pResult;
    m_pThread = QThread::create([path, write = std::move(write), pResult] {
        pResult->bOk = PlotFile::Write(path, write, &pResult->reason);
    });
    m_pThread->setObjectName(QStringLiteral("VornPlotSave"));
    connect(m_pThread, &QThread::finished, this, &CPlotSaveJob::OnThreadFinished,
            Qt::QueuedConnection);
    m_pThread->start();
    return true;
}

void CPlotSaveJob::Wait()
{
    if (m_pThread)
        m_pThread->wait();
}

void CPlotSaveJob::OnThreadFinished()
{
    if (!m_pThread)
        return;
    m_pThread->wait();
    delete m_pThread;
    m_pThread = nullptr;
    const SResult result = *m_pResult;
    m_pResult.reset();
    Q_EMIT Finished(m_path, result.bOk, result.reason);
}
