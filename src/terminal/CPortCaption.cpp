#include "CPortCaption.h"

#include "CKrCommPort.h"

#include <QWidget>

CPortCaption::CPortCaption(QWidget* pWindow, const CKrCommPort& port)
    : QObject(pWindow), m_pWindow(pWindow), m_port(port)
{
}

void CPortCaption::OnPortStatus(const CKrCommPortStatus&)
{
    if (!m_bQueued.exchange(true))
        QMetaObject::invokeMethod(this, &CPortCaption::OnChanged, Qt::QueuedConnection);
}

void CPortCaption::OnChanged()
{
    m_bQueued = false;
    Show();
}

void CPortCaption::Show()
{
    m_pWindow->setWindowTitle(CaptionFor(m_port.GetDescription()));
}

QString CPortCaption::CaptionFor(const QString& description)
{
    return QStringLiteral("VornTerm - ") + description;
}
