#pragma once
// Ends the program when the system asks it to (SIGTERM, SIGINT, SIGHUP: a
// logout, a service manager, a kill from a script, the terminal it was
// started from closing). From the first signal on nobody answers a prompt
// (Afx's unattended mode), every menu and dialog on top of the window closes,
// and the window closes as its close box does, so the exit writes what it
// always writes, without waiting for a person. A second signal ends the
// process at once.
//
// Lives on the user-interface thread, which hears of a signal through its
// event loop. One instance at a time; the handlers stay in place while it
// lives, so it is made before the window and outlives the window's exit.

#include <QObject>
#include <QPointer>
#include <QWidget>

class CEndOnSignal : public QObject
{
    Q_OBJECT
public:
    explicit CEndOnSignal(QObject* pParent = nullptr);
    ~CEndOnSignal() override;

    // The window to close at a signal; null once its loop has ended.
    void SetWindow(QWidget* pWindow) { m_pWindow = pWindow; }

    // The first signal that came, 0 for none.
    static int ReceivedSignal();

private:
    void OnSignal();

    QPointer<QWidget> m_pWindow;
    QObject* m_pWatcher = nullptr; // the platform's way of hearing the signal
};

// The platform's part: installs the handlers and returns an object that calls
// `onSignal` on this thread's event loop after each first signal; a second
// signal ends the process from the handler. Removing undoes it.
QObject* InstallEndSignals(QObject* pParent, void (*onSignal)(QObject* pContext),
                           QObject* pContext);
void RemoveEndSignals(QObject* pWatcher);
int EndSignalReceived();
