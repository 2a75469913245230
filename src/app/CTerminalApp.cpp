#include "CTerminalApp.h"

#include "Afx.h"
#include "CEndOnSignal.h"
#include "CTerminalDlg.h"
#include "FileSizeSignal.h"

#include <QApplication>

int CTerminalApp::Run(int argc, char* argv[])
{
    IgnoreFileSizeSignal();
    QApplication app(argc, argv);
    // The desktop entry's name: desktops match the window to its icon by it.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.vorn.VornTerm"));
    CTerminalApp theApp;
    theApp.InitInstance();
    // 0, or 1 when the exit could not write everything it had to.
    return AfxGetExitCode();
}

bool CTerminalApp::InitInstance()
{
    // Made before the window, so that a signal during the window's exit (its
    // settings write, the log's last bytes) is handled as well.
    CEndOnSignal ender;
    CTerminalDlg dlg;
    m_pMainWnd = &dlg;
    ender.SetWindow(&dlg);
    dlg.DoModal();
    ender.SetWindow(nullptr);
    m_pMainWnd = nullptr;
    return false;
}
