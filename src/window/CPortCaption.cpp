#include "CPortCaption.h"

#include "CKrCommPort.h"

#include <QWidget>

CPortCaption::CPortCaption(QWidget* pWindow, const CKrCommPort& port)
    : QObject(pWindow), m_pWindow(pWindow), m_port(port), m_changed(this, [this] { OnChanged(); })
{
}

void CPortCaption::OnPortStatus(const CKrCommPortStatus&)
{
    m_changed.Request();
}

void CPortCaption::OnChanged()
{
    Show();
    Q_EMIT Changed();
}

void CPortCaption::Show()
{
    m_pWindow->setWindowTitle(CaptionFor(m_port.GetDescription()));
}

void CPortCaption::ShowNotOpened(bool bNewSettings)
{
    m_pWindow->setWindowTitle(QStringLiteral("VornTerm - not open: %1; choose Configure Port")
                                  .arg(bNewSettings
                                           ? QStringLiteral("new settings")
                                           : QStringLiteral("the settings could not be read")));
}

QString CPortCaption::CaptionFor(const QString& description)
{
    return QStringLiteral("VornTerm - ") + description;
}
