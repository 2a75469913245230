// The Terminal window's settings file: the port's own configuration and
// nothing else.

#include "Afx.h"
#include "CArchive.h"
#include "CSettingsFile.h"
#include "CTerminalDlg.h"

namespace {

// True when the operation went through. A file that could not be opened (or
// is not a regular file) is passed over quietly; a failure part-way is told
// to the user.
bool Report(SettingsFile::Result result, const char* failureMessage)
{
    if (result == SettingsFile::Result::Failed)
        AfxMessageBox(QString::fromLatin1(failureMessage));
    return result == SettingsFile::Result::Ok;
}

} // namespace

void CTerminalDlg::Serialize(CArchive& ar)
{
    m_port.Serialize(ar);
}

bool CTerminalDlg::LoadSettings()
{
    // A file that fails to load leaves the configuration as it was, whatever
    // part of it was read.
    const CKrCommConfig before = m_port.GetConfig();
    const SettingsFile::Result result = SettingsFile::Load([this](CArchive& ar) { Serialize(ar); });
    // Start-up writes a new file at once; what the user had is kept beside it.
    if (result == SettingsFile::Result::Failed)
        SettingsFile::KeepDamaged();
    const bool bLoaded = Report(result, "Error reading configuration file.");
    if (!bLoaded)
        m_port.SetConfig(before);
    return bLoaded;
}

bool CTerminalDlg::SaveSettings()
{
    return Report(SettingsFile::Save([this](CArchive& ar) { Serialize(ar); }),
                  "Error writing the configuration file.");
}
