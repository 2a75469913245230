#include "CXferCommand.h"

#include "Afx.h"
#include "CDataView.h"
#include "CXferDialog.h"

#include <QAction>
#include <QDialog>
#include <QMenu>

CXferCommand::CXferCommand(QWidget* pWindow, CDataView* pView, CXferLink& link)
    : QObject(pView), m_pWindow(pWindow), m_link(link)
{
    m_lastSend.bSend = true;
    m_lastReceive.bSend = false;
    connect(pView, &CDataView::ContextMenuOpening, this, &CXferCommand::AddToMenu);
    // The window's end begins with its dialog finishing, while the port is
    // still open: the cancel can still reach the other side.
    if (auto* pDialog = qobject_cast<QDialog*>(pWindow))
        connect(pDialog, &QDialog::finished, this, &CXferCommand::Abandon);
}

CXferCommand::~CXferCommand()
{
    Abandon();
}

void CXferCommand::AddToMenu(QMenu* pMenu)
{
    pMenu->addSeparator();
    QAction* pSend = pMenu->addAction(SendText());
    QAction* pReceive = pMenu->addAction(ReceiveText());
    connect(pSend, &QAction::triggered, this, &CXferCommand::OnSend);
    connect(pReceive, &QAction::triggered, this, &CXferCommand::OnReceive);
    if (!m_pSession || !m_pSession->IsActive())
        return;
    // The running transfer's entry cancels it; the other waits.
    const SXferJob& job = m_pSession->Job();
    QAction* pRunning = job.bSend ? pSend : pReceive;
    const QString strWhat = job.bSend ? tr("Send") : tr("Receive");
    pRunning->setText(m_pSession->GetPhase() == CXferSession::Phase::Cancelling
                          ? tr("Stop the Cancelled %1 %2 Now").arg(job.ProtocolName(), strWhat)
                          : tr("Cancel the %1 %2").arg(job.ProtocolName(), strWhat));
    (job.bSend ? pReceive : pSend)->setEnabled(false);
}

void CXferCommand::OnSend()
{
    Choose(true);
}

void CXferCommand::OnReceive()
{
    Choose(false);
}

QString CXferCommand::WhyNot() const
{
    if (m_pSession && m_pSession->IsActive())
        return tr("An XMODEM or YMODEM transfer is running; one runs at a time.");
    if (m_link.IsSendingFile())
        return tr("Cannot start an XMODEM or YMODEM transfer while Send Text File sends a "
                  "file: wait for it to end, or stop it first.");
    if (m_link.PendingBytes() < 0)
        return tr("Cannot start an XMODEM or YMODEM transfer: the port is not open.");
    return QString();
}

void CXferCommand::Choose(bool bSend)
{
    if (m_pSession && m_pSession->IsActive() && m_pSession->Job().bSend == bSend) {
        m_pSession->Cancel();
        return;
    }
    const QString strWhyNot = WhyNot();
    if (!strWhyNot.isEmpty()) {
        AfxMessageBox(strWhyNot);
        return;
    }
    SXferJob initial = bSend ? m_lastSend : m_lastReceive;
    if (!bSend && initial.strPath.isEmpty())
        initial.strPath = m_link.FilesFolder();
    CXferDialog dialog(initial, m_link.FilesFolder(), m_pWindow);
    if (AfxDoModal(dialog) != IDOK)
        return;
    Start(dialog.Job());
}

bool CXferCommand::Start(const SXferJob& job)
{
    // Checked again: the dialog may have been answered without its OK, and
    // things change while it is open.
    QString strError = WhyNot();
    if (strError.isEmpty())
        XferJobCheck::Check(job, &strError);
    if (!strError.isEmpty()) {
        AfxMessageBox(strError);
        return false;
    }
    (job.bSend ? m_lastSend : m_lastReceive) = job;
    m_pSession.reset();
    auto pSession = std::make_unique<CXferSession>(m_link, job, m_timings);
    if (!pSession->Start(&strError)) {
        AfxMessageBox(tr("Cannot start the %1 transfer: %2.").arg(job.ProtocolName(), strError));
        return false;
    }
    m_pSession = std::move(pSession);
    return true;
}

void CXferCommand::Abandon()
{
    if (m_pSession)
        m_pSession->Abandon();
}
