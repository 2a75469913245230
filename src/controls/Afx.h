#pragma once
// The few framework services every window of the program shares: the
// application name, message boxes, modal dialogs, the default beep, the
// open-file dialog and handing a target to the desktop. Each goes through a
// replaceable hook so that tests never block on a dialog or open a browser.
// Every function runs on the user-interface thread.

#include <QString>
#include <functional>

class QDialog;
class QWidget;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int MB_OK = 0;

// The application's name, "VornTerm": the title of every message box.
QString AfxGetAppName();

// Shows a message box titled with the application name, OK button only. The
// first line is the message itself; the lines after it, if any, say what the
// user needs to know about it (which file, why) and show beneath it.
// The first box of the program may wait up to kAfxAccessibilityWaitMs for the
// desktop's accessibility bridge (see AfxWaitForAccessibility).
// While unattended, writes the text to standard error instead and returns
// IDOK at once.
int AfxMessageBox(const QString& text, int nType = MB_OK);

// Once the system has asked the program to end (a signal), nobody is there to
// answer a prompt: from then on AfxMessageBox writes to standard error,
// AfxDoModal cancels without showing the dialog and the file prompt returns
// nothing, so that the exit never waits for a person.
void AfxSetUnattended(bool bUnattended);
bool AfxIsUnattended();

// How many messages AfxMessageBox has reported so far, shown or written.
int AfxReportCount();

// The status the program ends with: 0 unless something it had to write as
// it ended could not be written.
void AfxSetExitCode(int nCode);
int AfxGetExitCode();

// On Linux desktops Qt connects to the accessibility bus only once the event
// loop has run (an asynchronous D-Bus call), and drops every accessibility
// event sent before that: a window shown before the first event loop is never
// announced to a screen reader. This lets the event loop run (user input
// excluded) until the bridge is up or nMaxMs have passed, once per program;
// later calls return at once. True when the bridge is up. Does nothing on
// platforms without such a bridge (Windows, the offscreen platform).
bool AfxWaitForAccessibility(int nMaxMs);
constexpr int kAfxAccessibilityWaitMs = 500;

// Runs a dialog modally; IDOK when it was accepted, IDCANCEL otherwise
// (at once, without showing it, while unattended).
int AfxDoModal(QDialog& dlg);

// The platform's default beep.
void AfxMessageBeep();

// The open-file dialog: all files, no filter. The chosen file's full path, or
// an empty string when the user cancelled (or nobody is there to choose).
QString AfxGetOpenFileName(QWidget* pParent);

// The save-file dialog, offering `suggestedName`. The chosen full path, or an
// empty string when the user cancelled (or nobody is there to choose).
// `refuse`, when given, says why a chosen name may not be used (empty when
// it may): the dialog then tells that (AfxMessageBox) and stays open, before
// it asks whether to replace an existing file. A folder's name still opens
// the folder.
QString AfxGetSaveFileName(QWidget* pParent, const QString& suggestedName,
                           const std::function<QString(const QString& path)>& refuse = {});

// Hands a web address or a mailto: target to the desktop. False when nothing
// could open it.
bool AfxOpenTarget(const QString& target);

struct AfxHooks
{
    std::function<int(const QString& text, int nType)> messageBox;
    std::function<int(QDialog& dlg)> doModal;
    std::function<void()> beep;
    std::function<QString(QWidget* pParent)> openFileName;
    std::function<bool(const QString& target)> openTarget;
    std::function<QString(QWidget* pParent, const QString& suggested)> saveFileName;
};

// Replaces the hooks that are set in `hooks` (empty members keep the
// default) for the lifetime of the guard.
class AfxScopedHooks
{
public:
    explicit AfxScopedHooks(const AfxHooks& hooks);
    ~AfxScopedHooks();
    AfxScopedHooks(const AfxScopedHooks&) = delete;
    AfxScopedHooks& operator=(const AfxScopedHooks&) = delete;

private:
    AfxHooks m_saved;
};
