#pragma once
// The technician's toolbox in the data window's context menu: "Find..."
// (the find bar, F3 and Shift+F3), "Copy as Hex" and "Copy as C String" of
// the selection's bytes, "Save Received Data..." (the bytes the data window
// shows, or the selection's, raw, into a regular file or a new name only; see
// SaveTarget.h) and "Send Bytes...". Find, Save and Copy read what the data
// window shows: the whole receive buffer, or while the window is paused what
// it kept when the pause began. F3 and Shift+F3 are the only keys it takes
// from the Terminal window: they make no character. (While the find bar or a
// dialog has the focus, what is typed goes there, not to the device.)
//
// User-interface thread. Owned by the Terminal window, which hands it the
// data window, the buffer and its way to send a sequence.

#include "CFindMatches.h"

#include <QObject>
#include <QStringList>
#include <functional>

class CDataView;
class CFindBar;
class QMenu;
class QWidget;

class CDataTools : public QObject
{
    Q_OBJECT
public:
    struct Hooks
    {
        // The bytes the data window shows, brought up to date first (a copy
        // the caller may keep).
        std::function<QByteArray()> shown;
        // Sends a sequence as one transmission; false when it did not go
        // (the port is not open).
        std::function<bool(const QByteArray&)> send;
    };

    CDataTools(QWidget* pWindow, CDataView* pView, Hooks hooks);

    void AddToMenu(QMenu* pMenu);

    // The commands, as the menu entries and keys run them.
    void OpenFind();
    void FindNext();
    void FindPrevious();
    void CopyAsHex();
    void CopyAsCString();
    void SaveReceivedData();
    void SendBytes();

    CFindBar* FindBar() const { return m_pBar; }
    const CFindMatches& Matches() const { return m_find; }

private:
    void Research();
    void Follow();
    // Shows the result and the matches; bScroll brings the current one into
    // sight (a search or a step, not new data).
    void ShowCurrent(bool bScroll);

    QWidget* m_pWindow;
    CDataView* m_pView;
    Hooks m_hooks;
    CFindBar* m_pBar;
    CFindMatches m_find;
    QStringList m_history; // the sequences sent since the program started
};
