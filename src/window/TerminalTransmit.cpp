// The Terminal window's transmit path: typed characters and the counter
// data.

#include "Afx.h"
#include "CFindBar.h"
#include "CTerminalDlg.h"
#include "KeyToChar.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QWidget>

namespace {

// A bar of the window's own (find) takes what is typed into it.
bool KeepsItsKeys(const QWidget* pWidget)
{
    return pWidget->property(CFindBar::kKeepsKeys).toBool();
}

} // namespace

bool CTerminalDlg::eventFilter(QObject* pWatched, QEvent* pEvent)
{
    if (pEvent->type() == QEvent::KeyPress || pEvent->type() == QEvent::ShortcutOverride) {
        // Only keys meant for this window or one of its controls; other
        // windows (the dialogs it opens) keep their keys.
        auto* pWidget = qobject_cast<QWidget*>(pWatched);
        if (pWidget && pWidget->window() == this && isEnabled() && !KeepsItsKeys(pWidget)) {
            const auto* pKey = static_cast<QKeyEvent*>(pEvent);
            const QList<int> codes = CharCodesForKey(*pKey);
            if (!codes.isEmpty() && IsTransferRunning(pEvent, pKey))
                return true;
            if (!codes.isEmpty()) {
                // A shortcut override is accepted so that no shortcut takes
                // the key; the key press that follows is sent.
                if (pEvent->type() == QEvent::ShortcutOverride) {
                    pEvent->accept();
                    return true;
                }
                for (const int nCode : codes)
                    PreTranslateKey(nCode);
                // Space is a button's own key (a checkbox toggles on it), as
                // the dialog handling gives the key-down to the focused
                // control; the character it makes is sent all the same.
                return !(pKey->key() == Qt::Key_Space && qobject_cast<QAbstractButton*>(pWidget));
            }
        }
    }
    return QDialog::eventFilter(pWatched, pEvent);
}

bool CTerminalDlg::IsTransferRunning(QEvent* pEvent, const QKeyEvent* pKey)
{
    // While a transfer runs, a typed character would break a block: Escape
    // cancels the transfer, anything else is refused with a beep.
    Tap* pTap = m_pTap.load();
    if (!pTap)
        return false;
    if (pEvent->type() == QEvent::ShortcutOverride) {
        pEvent->accept();
        return true;
    }
    if (pKey->key() == Qt::Key_Escape && pKey->modifiers() == Qt::NoModifier)
        pTap->CancelRequested();
    else
        AfxMessageBeep();
    return true;
}

bool CTerminalDlg::PreTranslateKey(int nCharCode)
{
    // One byte: the low 8 bits of the character's code, zero included. It
    // is counted and sets the gate, but is never shown.
    m_transmit.Send(QByteArray(1, char(nCharCode & 0xFF)), CTransmitter::kTyped);
    return true;
}

void CTerminalDlg::OnSendCounter()
{
    if (m_bCounterRunning.load()) {
        m_counterTimer.stop();
        m_nCounter = 0;
        m_bCounterRunning = false;
    } else {
        m_counterTimer.start(kCounterPeriodMs);
        m_bCounterRunning = true;
    }
}

void CTerminalDlg::OnTimer(unsigned nIDEvent)
{
    if (nIDEvent != kCounterTimerId)
        return;
    // Shown first (with "Local Echo" checked), then written; not counted in
    // Tx; the gate is set after it.
    m_transmit.Send(QByteArray::number(m_nCounter) + ' ', CTransmitter::kCounter);
    ++m_nCounter;
}
