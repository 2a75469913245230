#include "CTerminalApp.h"

#include "CTerminalDlg.h"
#include "CloseOnSignal.h"
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
    return 0;
}

bool CTerminalApp::InitInstance()
{
    CTerminalDlg dlg;
    m_pMainWnd = &dlg;
    // SIGTERM and SIGINT close the window as its close box does, so the
    // settings are written as at every exit.
    CloseOnSignal closer(&dlg);
    dlg.DoModal();
    m_pMainWnd = nullptr;
    return false;
}
