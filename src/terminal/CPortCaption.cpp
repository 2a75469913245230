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
    Q_EMIT Changed();
}

void CPortCaption::Show()
{
    m_pWindow->setWindowTitle(CaptionFor(m_port.GetDescription()));
}

void CPortCaption::ShowNotOpened(bool bNewSettings)
{
    m_pWindow->setWindowTitle(
        QStringLiteral("VornTerm - not open: %1; choose Configure Port")
            .arg(bNewSettings ? QStringLiteral("new settings")
                              : QStringLiteral("the settings could not be read")));
}

QString CPortCaption::CaptionFor(const QString& description)
{
    return QStringLiteral("VornTerm - ") + description;
}
