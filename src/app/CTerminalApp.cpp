#include "CTerminalApp.h"

#include "Afx.h"
#include "CEndOnSignal.h"
#include "CTerminalDlg.h"
#include "FileSizeSignal.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace {

// The window while its modal loop runs.
CTerminalDlg* g_pWindow = nullptr;

// The toolkit ends the process itself when its display goes away (the X
// server died, the session ended): exit(1) from its event loop, past the
// window's destructor. The window's exit is carried out here instead, as at
// a signal, with nobody to answer a prompt; then the process ends at once,
// before the toolkit's own teardown meets threads still running.
void EndWithoutTheDisplay()
{
    CTerminalDlg* pWindow = std::exchange(g_pWindow, nullptr);
    if (!pWindow)
        return;
    AfxSetUnattended(true);
    pWindow->Exit();
    std::fflush(nullptr);
    std::_Exit(1);
}

} // namespace

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
    static const bool bHandler = std::atexit(EndWithoutTheDisplay) == 0;
    Q_UNUSED(bHandler);
    CTerminalDlg dlg;
    m_pMainWnd = &dlg;
    ender.SetWindow(&dlg);
    g_pWindow = &dlg;
    dlg.DoModal();
    g_pWindow = nullptr;
    ender.SetWindow(nullptr);
    m_pMainWnd = nullptr;
    return false;
}
