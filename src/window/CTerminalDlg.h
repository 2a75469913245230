#pragma once
// The Terminal window: the one object that holds the program's state. Its
// operations are spread over files by subject: this skeleton (src/app), and
// the receive path, settings, transmit, commands and file send
// (src/terminal/Terminal*.cpp). What it needs beyond its specified members
// lives in small helpers it owns: the caption (CPortCaption), the log's
// indicator (CLogIndicator), the refresh of the data window (CViewRefresh),
// the file send (CFileSend) and the port's control lines (CLineLamps).
//
// Lives on the user-interface thread. Other threads call only AppendText,
// UpdateStatusBar and the state getters: the port's I/O thread through the
// receive sink, the file send's thread through its hooks.

#include "CArrivalTimes.h"
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
class CArrivalColumn;
class CCheckBox;
class CDataView;
class CFileSend;
class CLineLamps;
class CPortCaption;
class CStatusBarCtrl;
class CViewRefresh;
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

    // Receive path (any thread)
    void AppendText(QByteArray text);
    // A received block, appended as AppendText does, with its arrival times,
    // which the data window keeps for what its buffer holds.
    void AppendReceived(const QByteArray& block, const KrBlockTimes& times);
    // A port event, shown between the bytes before and after it while the
    // data window shows arrival times.
    void AppendPortEvent(const KrPortEvent& event);
    QByteArray FormatHexData() const;
    void UpdateStatusBar();
    bool IsCounterRunning() const { return m_bCounterRunning.load(); }
    bool IsLogInputChecked() const;

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

    // What tests and the benchmarks cannot read off the widgets.
    QByteArray GetData() const;
    qint64 GetTxCount() const;
    bool IsEchoPending() const { return m_bEchoPending.load(); }
    QTimer& CounterTimer() { return m_counterTimer; }
    CKrCommPortEx& Port() { return m_port; }
    CReceiveSink& ReceiveSink() { return m_receiveSink; }
    CDataView* DataView() const { return m_editData; }
    CStatusBarCtrl* StatusBar() const { return m_wndStatusBar; }
    QCheckBox* LogInputCheck() const;
    QCheckBox* LocalEchoCheck() const;
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
    // At exit, how long the port may take to stop reading (every block read
    // before reaches the sink) ...
    static constexpr int kPortExitWaitMs = 1000;
    // ... and how long the log's writer may take for the bytes still waiting.
    static constexpr int kLogExitWaitMs = 2000;
    // Both together, from the port's close on.
    static constexpr int kExitWaitMs = 2400;

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    void DoDataExchange();
    bool IsLocalEchoChecked() const;
    // Sends one typed character; true when the key press is consumed.
    bool PreTranslateKey(int nCharCode);
    void Refresh();
    void AppendTimed(const QByteArray& text, const KrBlockTimes* pTimes);
    void SetCaptionFromPort();
    // Bytes of a file being sent: written, counted and echoed (on the file
    // send's thread).
    qint64 SendFileBytes(const QByteArray& bytes, bool bWhole, bool bFirst);
    // A sequence from Send Bytes: written, counted and echoed as one
    // transmission; false (and a beep) when the port is not open.
    bool SendSequence(const QByteArray& bytes);

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
    CCheckBox* m_chkLogInput = nullptr;
    CCheckBox* m_chkLocalEcho = nullptr;
    CDataView* m_editData = nullptr;

    // Helpers, and the counter's timer.
    QTimer m_counterTimer;
    CViewRefresh* m_pRefresh = nullptr; // the buffer's way to the data window
    CFileSend* m_pFileSend = nullptr;   // progress and streaming of file sends
    CPortCaption* m_pCaption = nullptr; // the port's state in the caption
    // Arrival times of what the view has not shown yet (under m_lock), and
    // the view's time column, which keeps those of what it shows.
    CArrivalTimes m_arrivals;
    CArrivalColumn* m_pArrivalColumn = nullptr;
    CLineLamps* m_pLines = nullptr; // the control lines in the status bar

    // Last: the port goes first when the window is destroyed, which ends
    // every call from its thread before anything else is torn down.
    QIcon m_hIcon;
    CKrCommPortEx m_port;
    qint64 m_nTxCount = 0;
};
