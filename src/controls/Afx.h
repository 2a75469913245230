#pragma once
// The few framework services every window of the program shares: the
// application name, message boxes, modal dialogs, the default beep, the
// open-file dialog and handing a target to the desktop. Each goes through a
// replaceable hook so that tests never block on a dialog or open a browser.

#include <QString>
#include <functional>

class QDialog;
class QWidget;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int MB_OK = 0;

// The program file's name without extension ("vornterm"): the title of every
// message box.
QString AfxGetAppName();

// Shows a message box titled with the application name, OK button only.
int AfxMessageBox(const QString& text, int nType = MB_OK);

// Runs a dialog modally; IDOK when it was accepted, IDCANCEL otherwise.
int AfxDoModal(QDialog& dlg);

// The platform's default beep.
void AfxMessageBeep();

// The open-file dialog: all files, no filter. The chosen file's full path, or
// an empty string when the user cancelled.
QString AfxGetOpenFileName(QWidget* pParent);

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
