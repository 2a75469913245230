// The Terminal window's toolbar commands.

#include "CDataView.h"
#include "CFileSend.h"
#include "CKrCommDlgPortCfg.h"
#include "CTerminalDlg.h"
#include "CommandIds.h"

#include "Afx.h"

void CTerminalDlg::OnCommand(int nID)
{
    switch (nID) {
    case ID_CONFIGURE_PORT:
        OnConfigurePort();
        break;
    case ID_TOGGLE_PAUSE:
        OnPauseScrolling();
        break;
    case ID_SEND_COUNTER:
        OnSendCounter();
        break;
    case ID_CLEAR_DATA:
        OnClearData();
        break;
    case ID_TOGGLE_HEX:
        OnToggleHex();
        break;
    case ID_SEND_TEXT_FILE:
        OnSendTextFile();
        break;
    case ID_SHOW_ABOUT:
        OnAbout();
        break;
    default:
        break;
    }
}

void CTerminalDlg::OnConfigurePort()
{
    // What is still being sent stops with the port; the status then says
    // how much went, less what the close dropped.
    m_port.Close();
    m_pFileSend->Stop();
    CKrCommDlgPortCfg dlg(&m_port, 0, nullptr);
    if (dlg.DoModal() == IDOK) {
        m_port.Open();
        SetCaptionFromPort();
        SaveSettings();
    } else {
        // The port stays closed (this is how a user releases it), and the
        // caption says so.
        SetCaptionFromPort();
    }
}

void CTerminalDlg::OnPauseScrolling()
{
    // Paused, the data window keeps what it was last to show, whatever comes
    // (and whatever the buffer trims); resumed, it catches up with the next
    // append, not before.
    std::lock_guard<std::mutex> guard(m_lock);
    m_bPaused = !m_bPaused.load();
    if (m_bPaused.load())
        m_strData.Freeze();
}

void CTerminalDlg::OnToggleHex()
{
    // What was appended before the toggle shows in the old mode; the new
    // mode shows from the next append on.
    std::lock_guard<std::mutex> guard(m_lock);
    m_bHexDisplay = !m_bHexDisplay.load();
}

void CTerminalDlg::OnClearData()
{
    // The buffer is emptied under its own lock, so a block arriving meanwhile
    // lands wholly before or wholly after the clear. Rx stays until the next
    // append.
    if (m_editData)
        m_editData->Clear();
    m_strData.Clear();
}
