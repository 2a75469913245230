#pragma once
// The application object: runs the Terminal window modally and ends when it
// closes. The command line is not read.
// Main thread, which is the user-interface thread.

class QWidget;

class CTerminalApp
{
public:
    // Creates the Qt application and runs InitInstance.
    static int Run(int argc, char* argv[]);

    // Always false: the program ends once the Terminal window has closed.
    bool InitInstance();

    QWidget* m_pMainWnd = nullptr;
};
