#include "CloseOnSignal.h"

#include <QWidget>

// A windowed program on this system is ended through its window, which
// already closes as its close box does; nothing more to catch.
CloseOnSignal::CloseOnSignal(QWidget* pWindow) : m_pWindow(pWindow) {}

CloseOnSignal::~CloseOnSignal() = default;

void CloseOnSignal::OnSignal()
{
    if (m_pWindow)
        m_pWindow->close();
}
