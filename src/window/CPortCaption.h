#pragma once
// The port's state in the Terminal window's caption: "VornTerm - " and the
// port's description, which says when the port is connecting, not open or
// disconnected, and why.
//
// Lives on the user-interface thread. The port tells it of every change on
// its own I/O thread (OnPortStatus); the caption is then set on the
// user-interface thread through one coalesced queued call, from the port's
// description at that moment, so it never shows an older state.

#include "CKrCommPortStatus.h"
#include "KrCoalescedCall.h"

#include <QObject>

class CKrCommPort;
class QWidget;

class CPortCaption : public QObject, public CKrCommPortListener
{
    Q_OBJECT
public:
    CPortCaption(QWidget* pWindow, const CKrCommPort& port);

    // Port's thread.
    void OnPortStatus(const CKrCommPortStatus& status) override;

    // User-interface thread: sets the caption from the port now.
    void Show();
    // User-interface thread: the port was not opened at start-up, because
    // there were no settings yet (bNewSettings) or they could not be read;
    // the caption says so and what to do.
    void ShowNotOpened(bool bNewSettings);

    static QString CaptionFor(const QString& description);

Q_SIGNALS:
    // The port's state changed; emitted on the user-interface thread, after
    // the caption was set.
    void Changed();

private:
    void OnChanged();

    QWidget* m_pWindow;
    const CKrCommPort& m_port;
    KrCoalescedCall m_changed;
};
