// The Terminal window's About command.

#include "CAboutDlg.h"
#include "CTerminalDlg.h"
#include "StringTable.h"

void CTerminalDlg::OnAbout()
{
    // An empty version line when string 1 is missing.
    const QString strVersion = LoadStringResource(IDS_VERSION);
    CAboutDlg dlg(this);
    dlg.SetProductLines(QString(), strVersion, QStringLiteral("VornTerm"), QString(), QString());
    dlg.DoModal();
}
