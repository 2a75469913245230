#pragma once
// The port's control lines in the Terminal window: DTR, RTS, CTS, DSR, DCD
// and RI as compact labels at the right end of the status bar's last part,
// lit when on and dim when off, each with a tooltip and an accessible name
// and state. Clicking DTR or RTS turns it the other way. A port without
// lines shows why instead ("not available on a raw TCP port"), never stale
// labels. Where the part is too narrow for the six labels (a narrow
// window), they give way to one summary label, "Lines", whose tooltip and
// accessible name tell every line's state. It also holds the data window's
// commands for the lines: "Pulse DTR", "Pulse RTS" and "Send Break".
//
// User-interface thread. The port tells it of changes on its I/O thread
// (OnPortLines); one coalesced call then shows the port's lines as they are
// at that moment. Nothing polls. Commands only queue a request at the port,
// which never waits.

#include "CKrCommPortStatus.h"
#include "KrCoalescedCall.h"

#include <QList>
#include <QWidget>

class CKrCommPort;
class CLineLamp;
class QAction;
class QLabel;
class QMenu;

class CLineLamps : public QWidget, public CKrCommPortListener
{
    Q_OBJECT
public:
    CLineLamps(CKrCommPort& port, QWidget* pParent = nullptr);

    // Port's thread.
    void OnPortStatus(const CKrCommPortStatus&) override {}
    void OnPortLines(const KrLineEvent& event) override;

    // Adds the data window's entries after a separator: "Pulse DTR",
    // "Pulse RTS", "Send Break", enabled while the port has what they need.
    // They stay this widget's, which keeps them up to date.
    void AddToMenu(QMenu* pMenu);

    // Shows the port's lines now.
    void Show();
    // DTR or RTS the other way (a click on its label).
    void Toggle(KrLine line);
    // What a label says in its tooltip and to assistive technology:
    // "DTR (Data Terminal Ready): on - click to turn it off".
    QString Describe(KrLine line) const;
    const KrLines& Shown() const { return m_lines; }

    // As wide as the six labels.
    QSize sizeHint() const override;
    // The labels gave way to the summary for lack of room.
    bool IsCompact() const { return m_bCompact; }

protected:
    void resizeEvent(QResizeEvent* pEvent) override;

private:
    // Shows the labels, the summary or the note, as the lines and the room
    // allow.
    void Arrange();

    CKrCommPort& m_port;
    KrLines m_lines;
    QList<CLineLamp*> m_lamps; // in the order of kKrWires
    QLabel* m_pNote;           // instead of the labels when there are none
    QLabel* m_pSummary;        // instead of the labels when they do not fit
    bool m_bCompact = false;
    QList<QAction*> m_actions;
    KrCoalescedCall m_changed;
};
