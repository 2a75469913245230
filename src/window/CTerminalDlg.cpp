#include "CTerminalDlg.h"

#include "Afx.h"
#include "CArrivalColumn.h"
#include "CCheckBox.h"
#include "CDataTools.h"
#include "CDataView.h"
#include "CFileSend.h"
#include "CLineLamps.h"
#include "CLogIndicator.h"
#include "CPlotCommand.h"
#include "CPortCaption.h"
#include "CSettingsFile.h"
#include "CStatusBarCtrl.h"
#include "CViewRefresh.h"
#include "CXferCommand.h"
#include "CommandIds.h"
#include "DialogUnits.h"
#include "DrawTransparentBitmap.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QFontInfo>
#include <QMenu>
#include <QPainter>
#include <QResizeEvent>
#include <QToolBar>
#include <utility>

namespace {

// Template 102, in dialog units.
constexpr int kTemplateWidth = 307;
constexpr int kTemplateHeight = 150;
const QRect kDataWindowDlu(20, 31, 280, 99);
const QRect kLocalEchoDlu(246, 20, 52, 10);
const QRect kLogInputDlu(246, 7, 63, 10);

constexpr int kStatusBarHeight = 18;
// The status bar's top, from the client area's bottom edge, after a resize.
constexpr int kStatusBarFromBottom = 23;
// The smallest client area a user can resize to, at most.
constexpr int kMinClientWidth = 400;
constexpr int kMinClientHeight = 300;

} // namespace

CTerminalDlg::CTerminalDlg(QWidget* pParent) : QDialog(pParent)
{
    // The window's icon; the port is wired to the sink and the sink to us.
    m_hIcon = QIcon(QStringLiteral(":/res/icon128.png"));
    m_hIcon.addFile(QStringLiteral(":/res/icon128_16.png"));
    m_port.m_pReceiver = &m_receiveSink;
    m_receiveSink.SetOwner(this);
    m_bEchoPending = false;
    m_bPaused = false;
    m_bCounterRunning = false;
    m_nTxCount = 0;
    m_nRxCount = 0;
    m_bHexDisplay = false;

    m_pRefresh = new CViewRefresh([this] { return Refresh(); }, 0, this);
    m_pEventsCall = std::make_unique<KrCoalescedCall>(this, [this] {
        if (m_pArrivalColumn)
            m_pArrivalColumn->EventAdded();
    });
    m_counterTimer.setInterval(kCounterPeriodMs);
    connect(&m_counterTimer, &QTimer::timeout, this, [this] { OnTimer(kCounterTimerId); });
    // What leaves shows between the received rows while the arrival times
    // are shown, and goes to the timing index while "Log Input Data" is
    // checked.
    m_transmit.SetSentListener(
        [this](const QByteArray& bytes, const KrTimeStamp& time, bool bContinues) {
            m_strData.AddSent(bytes, time);
            // Only a shown time column has anything to redraw (showing it
            // later draws what was sent meanwhile): a transfer's blocks do
            // not each wake the user-interface thread.
            if (m_pArrivalColumn && m_pArrivalColumn->IsShown())
                m_pEventsCall->Request();
            if (IsLogInputChecked())
                m_receiveSink.InputLog().WriteSent(bytes, time, bContinues);
        });
    m_pFileSend = new CFileSend(m_transmit, CKrCommPort::kMaxQueued, this);
    connect(m_pFileSend, &CFileSend::Status, this, [this](const QString& text) {
        if (m_wndStatusBar)
            m_wndStatusBar->SetText(3, text);
    });
    connect(m_pFileSend, &CFileSend::Failed, this,
            [](const QString& message) { AfxMessageBox(message); });
    // The port tells of every change of its state; the caption shows it, and
    // the status bar, since a close or a loss may drop bytes that Tx counted.
    // Its events (opened, lost, closed) go with the received bytes, so the
    // receive sink hears them first and passes the state on.
    m_pCaption = new CPortCaption(this, m_port);
    m_receiveSink.PassStatusTo(m_pCaption);
    m_port.SetStateListener(&m_receiveSink);
    connect(m_pCaption, &CPortCaption::Changed, this, [this] { UpdateStatusBar(); });
    // The control lines too; their labels go to the status bar with it.
    m_pLines = new CLineLamps(m_port, this);
    m_port.AddListener(m_pLines);
}

CTerminalDlg::~CTerminalDlg()
{
    Exit();
    // The data window and its helpers (the tools, the time column, the plot)
    // read the receive buffer: they go before it does.
    delete m_editData;
    m_editData = nullptr;
    // The port is destroyed next (it is the last member but the transmitter
    // and Tx), which ends its thread's calls into the sink.
}

void CTerminalDlg::Exit()
{
    if (std::exchange(m_bExited, true))
        return;
    qApp->removeEventFilter(this);
    // Nothing of the window may tick or start anything from here on, and
    // nothing before the settings write waits on a device or a disk: the
    // counter and the refresh end, a file being sent is told to stop.
    m_counterTimer.stop();
    m_pRefresh->Stop();
    m_pFileSend->Cancel();
    // Whatever the exit reports is what it could not write; that makes the
    // program's status 1.
    const int nReportsBefore = AfxReportCount();
    // The settings first, while the port object exists and before any wait
    // below could cost them.
    SaveSettings();
    // Reception ends before the log does: once the port has carried out the
    // close, every block it read has reached the sink. The waits share one
    // bound, so that the program ends in about 3 s whatever the device or the
    // disk does.
    m_port.Close();
    const QDeadlineTimer deadline(kExitWaitMs);
    m_port.WaitSettled(int(qMin<qint64>(kPortExitWaitMs, deadline.remainingTime())));
    delete m_pFileSend; // its thread ends with the piece it may be reading
    m_pFileSend = nullptr;
    CInputLog& log = m_receiveSink.InputLog();
    log.Finish(int(qMin<qint64>(kLogExitWaitMs, deadline.remainingTime())));
    const QString strUnwritten = log.UnwrittenText();
    if (!strUnwritten.isEmpty())
        AfxMessageBox(strUnwritten);
    if (AfxReportCount() != nReportsBefore)
        AfxSetExitCode(1);
}

bool CTerminalDlg::Create()
{
    if (m_editData)
        return true;

    setFont(CDialogUnits::DialogFont());
    const CDialogUnits du(font());
    resize(du.X(kTemplateWidth), du.Y(kTemplateHeight));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setSizeGripEnabled(false);

    // The template's controls, in template order.
    m_editData = new CDataView(this);
    m_editData->setGeometry(du.Rect(kDataWindowDlu.x(), kDataWindowDlu.y(), kDataWindowDlu.width(),
                                    kDataWindowDlu.height()));
    // Find, copy as hex or C string, save and send, in its context menu.
    new CDataTools(
        this, m_editData,
        CDataTools::Hooks{[this] { return ShownData(); },
                          [this](const QByteArray& bytes) { return SendSequence(bytes); }});
    // The numbers in received lines, plotted in a window of their own.
    new CPlotCommand(this, m_editData, m_strData);
    new CXferCommand(this, m_editData, *this);
    // When the bytes arrived: a tooltip, and a time column on request.
    m_pArrivalColumn = new CArrivalColumn(m_editData, m_strData);
    m_chkLocalEcho = new CCheckBox(QStringLiteral("Local Echo"), this);
    m_chkLocalEcho->setGeometry(du.Rect(kLocalEchoDlu.x(), kLocalEchoDlu.y(), kLocalEchoDlu.width(),
                                        kLocalEchoDlu.height()));
    m_chkLogInput = new CCheckBox(QStringLiteral("Log Input Data"), this);
    m_chkLogInput->setGeometry(
        du.Rect(kLogInputDlu.x(), kLogInputDlu.y(), kLogInputDlu.width(), kLogInputDlu.height()));
    DoDataExchange();
    return OnInitDialog();
}

void CTerminalDlg::DoDataExchange()
{
    m_chkLogInput->setMinimumWidth(0);
    // Each time the log is turned on, its index says first which port it is.
    connect(m_chkLogInput, &QCheckBox::toggled, this, [this](bool bChecked) {
        if (bChecked)
            m_receiveSink.InputLog().BeginSession();
    });
    // The checkbox shows the log's trouble, and follows it by itself.
    new CLogIndicator(m_chkLogInput, m_receiveSink.InputLog());
}

bool CTerminalDlg::IsLogInputChecked() const
{
    return m_chkLogInput && m_chkLogInput->GetCheck();
}

bool CTerminalDlg::IsLocalEchoChecked() const
{
    return m_chkLocalEcho && m_chkLocalEcho->GetCheck();
}

QCheckBox* CTerminalDlg::LogInputCheck() const
{
    return m_chkLogInput;
}

QCheckBox* CTerminalDlg::LocalEchoCheck() const
{
    return m_chkLocalEcho;
}

int CTerminalDlg::DoModal()
{
    Create();
    return AfxDoModal(*this);
}

bool CTerminalDlg::OnInitDialog()
{
    setWindowTitle(QStringLiteral("VornTerm"));
    setWindowIcon(m_hIcon);

    // No file at all (not even a link) is a first start.
    const QFileInfo settings(QString::fromLatin1(SettingsFile::kFileName));
    const bool bNewSettings = !settings.exists() && !settings.isSymLink();
    if (LoadSettings()) {
        m_receiveSink.InputLog().SetPortDescription(m_port.GetDescription());
        m_port.Open();
        SetCaptionFromPort();
    } else {
        SaveSettings();
        // The port stays closed; the caption says why and what to do.
        m_pCaption->ShowNotOpened(bNewSettings);
    }

    // "Terminal" where it exists, otherwise the system's fixed-pitch font,
    // 13 pixels high.
    m_fontData = CDataView::DefaultFont();
    if (QFontInfo(m_fontData).family().isEmpty())
        AfxMessageBox(QStringLiteral("Error creating normal view data font"));
    else
        m_editData->setFont(m_fontData);

    m_nCounter = 0;
    CreateBars();

    // Every key press that makes a character goes to the port before any
    // control sees it.
    qApp->installEventFilter(this);
    return true;
}

int CTerminalDlg::CreateBars()
{
    const QRect client = rect();
    m_wndStatusBar = new CStatusBarCtrl(this);
    m_wndStatusBar->setObjectName(QStringLiteral("statusBar"));
    const int nBarHeight = m_wndStatusBar->sizeHint().height();
    m_wndStatusBar->setGeometry(0, client.height() - nBarHeight, client.width(), nBarHeight);
    m_wndStatusBar->show();

    // The Tx part is 70 pixels wide, or as wide as a 10-digit figure needs.
    const int w = m_wndStatusBar->rect().right() + 1;
    const int nTxWidth = qMax(70, m_wndStatusBar->WidthFor(QStringLiteral("Tx:0000000000")));
    m_wndStatusBar->SetParts({w - 330 - nTxWidth, w - 330, w - 300, -1});
    // The last part's right end: the control lines; the line commands go to
    // the data window's menu.
    m_wndStatusBar->SetPartWidget(3, m_pLines);
    connect(m_editData, &CDataView::ContextMenuOpening, m_pLines, &CLineLamps::AddToMenu);

    m_wndToolBar = new QToolBar(this);
    m_wndToolBar->setObjectName(QStringLiteral("toolbar140"));
    m_wndToolBar->setOrientation(Qt::Vertical);
    m_wndToolBar->setIconSize(QSize(16, 15));
    m_wndToolBar->setMovable(false);
    m_wndToolBar->setFloatable(false);
    for (int nID : kToolbarCommands) {
        QAction* pAction = m_wndToolBar->addAction(
            QIcon(QStringLiteral(":/res/tb_%1.png").arg(nID)), ToolTipForCommand(nID));
        pAction->setData(nID);
        pAction->setToolTip(ToolTipForCommand(nID));
        connect(pAction, &QAction::triggered, this, [this, nID] { OnCommand(nID); });
        if (QWidget* pButton = m_wndToolBar->widgetForAction(pAction)) {
            pButton->setAccessibleName(ToolTipForCommand(nID));
            pButton->setFocusPolicy(Qt::NoFocus);
        }
    }
    // Docked on the left edge, from the top down to the status bar.
    const int nBarWidth = m_wndToolBar->sizeHint().width();
    m_wndToolBar->setGeometry(
        0, 0, nBarWidth, qMax(m_wndToolBar->sizeHint().height(), client.height() - nBarHeight));
    m_wndToolBar->show();
    // The toolbar reaches down to where the status bar first was; once the
    // window is resized the status bar is drawn over the toolbar's empty end.
    m_wndStatusBar->raise();
    // The window may be made narrower than it was made (down to a client
    // area 400 pixels wide; the checkboxes stay where they are, cut by the
    // edge, and the control lines give way to a summary), and low enough for
    // 300 pixels, but never so low that the status bar covers the toolbar's
    // buttons.
    setMinimumSize(
        qMin(client.width(), kMinClientWidth),
        qMin(m_wndToolBar->sizeHint().height() + kStatusBarFromBottom, kMinClientHeight));

    update();
    UpdateStatusBar();
    return 1;
}

void CTerminalDlg::paintEvent(QPaintEvent* e)
{
    QDialog::paintEvent(e);
    // The small paints behind the status bar's figures, many a second while
    // data comes, do not load the picture.
    static const QRect picture(QPoint(30, 1), LoadBitmapResource(144).size());
    if (isMinimized() || !e->region().intersects(picture))
        return;
    QPainter painter(this);
    DrawTransparentBitmap(30, 1, 144, RGB(255, 255, 255), &painter);
}

void CTerminalDlg::resizeEvent(QResizeEvent* e)
{
    QDialog::resizeEvent(e);
    // The first size comes while the window is being created: the template's
    // layout stands until the window is resized.
    if (!e->oldSize().isValid())
        return;
    OnSize(0, e->size().width(), e->size().height());
}

void CTerminalDlg::OnSize(int /*nType*/, int cx, int cy)
{
    if (!m_editData || !m_wndStatusBar)
        return;
    const QRect data = m_editData->geometry();
    m_editData->setGeometry(data.left(), data.top(), qMax(0, cx - 5 - data.left()),
                            qMax(0, cy - 30 - data.top()));
    const QRect bar = m_wndStatusBar->geometry();
    m_wndStatusBar->setGeometry(bar.left(), cy - kStatusBarFromBottom, qMax(0, cx - 5 - bar.left()),
                                kStatusBarHeight);
    m_editData->update();
    m_wndStatusBar->update();
}

void CTerminalDlg::closeEvent(QCloseEvent* e)
{
    OnClose();
    e->accept();
}

void CTerminalDlg::OnClose()
{
    // Ends the modal loop as Cancel does.
    reject();
}

void CTerminalDlg::SetCaptionFromPort()
{
    m_pCaption->Show();
}
