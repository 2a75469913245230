#include "CEndOnSignal.h"

#include "Afx.h"

#include <QApplication>
#include <QDialog>
#include <QWidget>

CEndOnSignal::CEndOnSignal(QObject* pParent) : QObject(pParent)
{
    m_pWatcher = InstallEndSignals(
        this, [](QObject* pContext) { static_cast<CEndOnSignal*>(pContext)->OnSignal(); }, this);
}

CEndOnSignal::~CEndOnSignal()
{
    RemoveEndSignals(m_pWatcher);
    // What a signal started has ended with the window.
    AfxSetUnattended(false);
}

int CEndOnSignal::ReceivedSignal()
{
    return EndSignalReceived();
}

void CEndOnSignal::OnSignal()
{
    // No prompt may wait for a person from here on, the exit's included.
    AfxSetUnattended(true);
    // A menu's loop ends as it hides; so does a dialog's (the About box, the
    // port configuration, a message box, the file prompt). Bounded: each
    // round closes at least the popup it found, and popups nest shallowly.
    for (int i = 0; i < 16; ++i) {
        QWidget* pPopup = QApplication::activePopupWidget();
        if (!pPopup)
            break;
        pPopup->close();
    }
    for (QWidget* pTop : QApplication::topLevelWidgets()) {
        auto* pDialog = qobject_cast<QDialog*>(pTop);
        if (pDialog && pDialog != m_pWindow && pDialog->isVisible())
            pDialog->reject();
    }
    if (m_pWindow)
        m_pWindow->close();
}
