#pragma once
// The Terminal window: the one object that holds the program's state. Its
// operations are spread over files by subject, all in this room: the skeleton
// (CTerminalDlg.cpp), the receive path, settings, transmit, commands and file
// send (Terminal*.cpp). What it needs beyond its own members lives in helpers
// it owns: the receive text buffer (CReceiveBuffer, m_strData), every send
// (CTransmitter), the caption (CPortCaption), the log's indicator
// (CLogIndicator), the refresh's timing (CViewRefresh), the file send
// (CFileSend) and the port's control lines (CLineLamps).
//
// Lives on the user-interface thread. Other threads call only AppendText,
// AppendPortEvent, UpdateStatusBar and the state getters: the port's I/O
// thread through the receive sink (CReceiveOwner), the file send's thread
// through the transmitter.

#include "CKrCommPort.h"
#include "CReceiveBuffer.h"
#include "CReceiveOwner.h"
#include "CReceiveSink.h"
#include "CTransmitter.h"
#include "CXferLink.h"
#include "KrCoalescedCall.h"

#include <QByteArray>
#include <QDialog>
#include <QFont>
#include <QIcon>
#include <QTimer>
#include <atomic>
#include <memory>
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
class QKeyEvent;
class QToolBar;

class CTerminalDlg : public QDialog,
                     public CReceiveOwner,
                     public CXferLink,
                     private CTransmitter::Window
{
    Q_OBJECT
public:
    explicit CTerminalDlg(QWidget* pParent = nullptr);
    ~CTerminalDlg() override;

    // What the end of the window writes: the settings, every byte read to
    // the log, and a report of what could not be written (AfxMessageBox,
    // which writes to standard error in unattended mode). The destructor
    // calls it; so may an end the window does not see coming (the display
    // gone), once, without touching a widget.
    void Exit();

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
    // Appends to the receive text buffer through the echo gate, with the
    // bytes' arrival times (none: the echo of what was sent), marks what the
    // data window is to show and asks for a refresh.
    void AppendText(QByteArray text, const KrBlockTimes* pTimes = nullptr) override;
    // A port event, kept with the arrival times and shown between the bytes
    // before and after it while the data window shows them; it moves nothing.
    void AppendPortEvent(const KrPortEvent& event) override;
    QByteArray FormatHexData() const;
    void UpdateStatusBar();
    bool IsCounterRunning() const override { return m_bCounterRunning.load(); }
    bool IsLogInputChecked() const override;

    // XMODEM and YMODEM transfers (CXferLink)
    void SetReceiveTap(Tap* pTap) override;
    qint64 SendTransferBytes(const QByteArray& bytes) override;
    qint64 PendingBytes() const override;
    void ShowTransferStatus(const QString& text) override;
    void AppendNote(const QString& text) override;
    bool IsSendingFile() const override;
    QString FilesFolder() const override;
    bool IsTransferring() const { return m_pTap.load() != nullptr; }

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
    // The receive text buffer's bytes now.
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
    // The bytes the data window shows, brought up to date first: the whole
    // buffer, or while paused what the pause kept. What Find searches and
    // Save Received Data writes.
    QByteArray ShownData();
    CTransmitter& Transmitter() { return m_transmit; }

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
    bool IsLocalEchoChecked() const override;
    // Sends one typed character; true when the key press is consumed.
    bool PreTranslateKey(int nCharCode);
    // A key that makes a character while a transfer runs: Escape cancels it,
    // others are refused; true when the key was taken so.
    bool IsTransferRunning(QEvent* pEvent, const QKeyEvent* pKey);
    // Shows what the buffer marked for the data window, and the figures;
    // true when the view showed something new.
    bool Refresh();
    // AppendText's work, m_lock being held.
    void AppendLocked(const QByteArray& text, const KrBlockTimes* pTimes);
    void SetCaptionFromPort();
    // A sequence from Send Bytes: written, counted and echoed as one
    // transmission; false (and a beep) when the port is not open.
    bool SendSequence(const QByteArray& bytes);

    // CTransmitter::Window
    void AppendEchoLocked(const QByteArray& text) override { AppendLocked(text, nullptr); }
    void TxChanged() override { UpdateStatusBar(); }

    // Members, in the order the window has always declared them.
    CReceiveBuffer m_strData;                // receive text buffer
    int m_nCounter = 0;                      // next counter value
    QFont m_fontData;                        // data window font
    std::atomic<bool> m_bEchoPending{false}; // one-shot echo gate
    std::atomic<bool> m_bCounterRunning{false};
    // The echo gate, Rx and Tx, and the order of an append against a send;
    // the buffer has a lock of its own for its contents.
    mutable std::mutex m_lock;
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
    CViewRefresh* m_pRefresh = nullptr; // when the data window and status bar refresh
    quint64 m_nShownSerial = 0;         // what the view took last (CReceiveBuffer::TakeShown)
    bool m_bExited = false;             // Exit has run
    std::atomic<Tap*> m_pTap{nullptr};  // a transfer's, while one runs
    CFileSend* m_pFileSend = nullptr;   // progress and streaming of file sends
    CPortCaption* m_pCaption = nullptr; // the port's state in the caption
    CArrivalColumn* m_pArrivalColumn = nullptr; // the view's time column
    // A port event or a send, to the time column; it outlives the port (and
    // the port's thread that asks for it), declared before it.
    std::unique_ptr<KrCoalescedCall> m_pEventsCall;
    CLineLamps* m_pLines = nullptr; // the control lines in the status bar

    // Last: the port goes first when the window is destroyed, which ends
    // every call from its thread before anything else is torn down.
    QIcon m_hIcon;
    CKrCommPortEx m_port;
    qint64 m_nTxCount = 0;
    CTransmitter m_transmit{m_port, m_lock, m_nTxCount, m_bEchoPending, *this};
};
