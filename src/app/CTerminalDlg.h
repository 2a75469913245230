#pragma once
// The Terminal window: the one object that holds the program's state. Its
// operations are spread over files by subject: this skeleton (src/app), and
// the receive path, settings, transmit, commands and file send
// (src/terminal/Terminal*.cpp). It lives on the user-interface thread; only
// the receive sink and the log's state callback are called from others.

#include "CKrCommPort.h"
#include "CReceiveSink.h"

#include <QByteArray>
#include <QDialog>
#include <QFont>
#include <QIcon>
#include <QTimer>
#include <atomic>
#include <mutex>

class CArchive;
class CDataView;
class CFileSend;
class CPortCaption;
class CRefreshScheduler;
class CStatusBarCtrl;
class QCheckBox;
class QToolBar;

class CTerminalDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CTerminalDlg(QWidget* pParent = nullptr);
    ~CTerminalDlg() override;

    // Builds the window's controls and runs OnInitDialog, as creating the
    // dialog does; DoModal calls it when it has not run yet.
    bool Create();
    int DoModal();

    // Skeleton
    virtual bool OnInitDialog();
    int CreateBars();
    void OnSize(int nType, int cx, int cy);
    void OnClose();

    // Receive path
    void AppendText(QByteArray text);
    QByteArray FormatHexData() const;
    void UpdateStatusBar();

    // Settings file
    virtual void Serialize(CArchive& ar);
    bool LoadSettings();
    bool SaveSettings();

    // Transmit path
    void OnTimer(unsigned nIDEvent);
    void OnSendCounter();

    // Commands
    void OnCommand(int nID);
    void OnConfigurePort();
    void OnPauseScrolling();
    void OnClearData();
    void OnToggleHex();
    void OnSendTextFile();
    void OnAbout();

    // State that tests and the benchmark read.
    QByteArray GetData() const;
    int GetRxCount() const;
    qint64 GetTxCount() const;
    bool IsEchoPending() const { return m_bEchoPending.load(); }
    bool IsCounterRunning() const { return m_bCounterRunning.load(); }
    bool IsPaused() const { return m_bPaused.load(); }
    bool IsHexDisplay() const { return m_bHexDisplay.load(); }
    int GetCounter() const { return m_nCounter; }
    CKrCommPortEx& Port() { return m_port; }
    CReceiveSink& ReceiveSink() { return m_receiveSink; }
    CDataView* DataView() const { return m_editData; }
    CStatusBarCtrl* StatusBar() const { return m_wndStatusBar; }
    QToolBar* ToolBar() const { return m_wndToolBar; }
    QCheckBox* LogInputCheck() const { return m_chkLogInput; }
    QCheckBox* LocalEchoCheck() const { return m_chkLocalEcho; }
    QTimer& CounterTimer() { return m_counterTimer; }
    CFileSend* FileSend() const { return m_pFileSend; }
    // Runs a pending refresh of the data window and status bar now.
    void FlushRefresh();

    // Whose bytes they are at the port (CKrCommPort's write streams): Tx
    // counts typed characters and files, not the counter data.
    static constexpr int kStreamCounter = 0;
    static constexpr int kStreamTyped = 1;
    static constexpr int kStreamFile = 2;

    static constexpr int kCounterTimerId = 1;
    static constexpr int kCounterPeriodMs = 1000;
    // At exit, how long the log's writer may take for the bytes still waiting.
    static constexpr int kLogExitWaitMs = 2000;
    // At exit, how long the blocks the port has read may take to arrive.
    static constexpr int kDeliveryExitWaitMs = 1000;
    // Both together, from the port's close on.
    static constexpr int kExitWaitMs = 2400;

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    friend class CReceiveSink;

    void DoDataExchange();
    bool IsLocalEchoChecked() const { return m_bLocalEchoChecked.load(); }
    bool IsLogInputChecked() const { return m_bLogInputChecked.load(); }
    // Sends one typed character; true when the key press is consumed.
    bool PreTranslateKey(int nCharCode);
    void Refresh();
    void UpdateLogIndicator();
    void SetCaptionFromPort();
    // Bytes of a file being sent: written, counted and echoed (on the file
    // send's thread); and what waits at the port dropped when a send stops.
    qint64 SendFileBytes(const QByteArray& bytes, bool bWhole, bool bFirst);
    qint64 DiscardFileBytes();
    // Under m_lock: counted bytes that the port dropped unsent (a close, a
    // loss) come off Tx.
    void TakeBackDroppedLocked();

    // Members, in the order the window has always declared them.
    QByteArray m_strData;                    // receive text buffer
    int m_nCounter = 0;                      // next counter value
    QFont m_fontData;                        // data window font
    std::atomic<bool> m_bEchoPending{false}; // one-shot echo gate
    std::atomic<bool> m_bCounterRunning{false};
    mutable std::recursive_mutex m_lock; // state shared with the receive thread
    std::atomic<bool> m_bPaused{false};
    QToolBar* m_wndToolBar = nullptr;
    CStatusBarCtrl* m_wndStatusBar = nullptr;
    CReceiveSink m_receiveSink;
    std::atomic<bool> m_bHexDisplay{false};
    int m_nRxCount = 0;
    QCheckBox* m_chkLogInput = nullptr;
    QCheckBox* m_chkLocalEcho = nullptr;
    CDataView* m_editData = nullptr;

    // Checkbox states as the receive thread reads them.
    std::atomic<bool> m_bLocalEchoChecked{false};
    std::atomic<bool> m_bLogInputChecked{false};
    // Position of m_strData's first byte in everything appended since the
    // last clear, so the view indexes only what is new.
    qint64 m_nStreamStart = 0;
    bool m_bViewDirty = false; // an append since the last refresh, not paused
    bool m_bCreated = false;
    QTimer m_counterTimer;
    std::atomic<bool> m_bLogNewsPending{false}; // an indicator update is on its way
    CFileSend* m_pFileSend = nullptr;           // progress and streaming of file sends
    CPortCaption* m_pCaption = nullptr;         // the port's state in the caption
    qint64 m_nLogLostSeen = 0;                  // log bytes lost before the box was last checked
    qint64 m_nTxDroppedSeen = 0;                // counted bytes dropped by the port, taken off Tx
    CRefreshScheduler* m_pRefresh = nullptr;

    // Last: the port goes first when the window is destroyed, which ends
    // every call from its thread before anything else is torn down.
    QIcon m_hIcon;
    CKrCommPortEx m_port;
    qint64 m_nTxCount = 0;
};
