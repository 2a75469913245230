// The Terminal window's settings file: the port's own configuration and
// nothing else.

#include "Afx.h"
#include "CArchive.h"
#include "CSettingsFile.h"
#include "CTerminalDlg.h"

void CTerminalDlg::Serialize(CArchive& ar)
{
    m_port.Serialize(ar);
}

bool CTerminalDlg::LoadSettings()
{
    switch (SettingsFile::Load([this](CArchive& ar) { Serialize(ar); })) {
    case SettingsFile::Result::Ok:
        return true;
    case SettingsFile::Result::NotOpened:
        return false;
    case SettingsFile::Result::Failed:
        break;
    }
    AfxMessageBox(QStringLiteral("Error reading configuration file."));
    return false;
}

bool CTerminalDlg::SaveSettings()
{
    switch (SettingsFile::Save([this](CArchive& ar) { Serialize(ar); })) {
    case SettingsFile::Result::Ok:
        return true;
    case SettingsFile::Result::NotOpened:
        return false;
    case SettingsFile::Result::Failed:
        break;
    }
    AfxMessageBox(QStringLiteral("Error writing the configuration file."));
    return false;
}
