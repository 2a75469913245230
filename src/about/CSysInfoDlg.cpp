#include "CSysInfoDlg.h"

#include "Afx.h"
#include "DialogColours.h"
#include "DialogUnits.h"
#include "DrawTransparentBitmap.h"
#include "SysInfoTexts.h"

#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

CSysInfoSource* g_pSourceOverride = nullptr;

struct PaneTemplate
{
    int id;
    int x, y, cx, cy;
};

// Template order, which is also the tab order after "Done".
constexpr PaneTemplate kPanes[] = {
    {CSysInfoDlg::IDC_SUMMARY, 90, 15, 150, 90},
    {CSysInfoDlg::IDC_DISK, 90, 110, 150, 70},
    {CSysInfoDlg::IDC_MEMORY, 250, 15, 120, 166},
};

QPlainTextEdit* CreatePane(QWidget* pParent, const CDialogUnits& du, const PaneTemplate& t)
{
    auto* pane = new QPlainTextEdit(pParent);
    pane->setObjectName(QString::number(t.id));
    pane->setGeometry(du.Rect(t.x, t.y, t.cx, t.cy));
    pane->setReadOnly(true);
    pane->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    pane->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pane->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pane->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    pane->setTabChangesFocus(true);
    pane->setFocusPolicy(Qt::StrongFocus);
    pane->setTabStopDistance(du.X(32));     // the edit control's default tab stops
    pane->document()->setDocumentMargin(2); // an edit control's narrow inner margin
    return pane;
}

} // namespace

QString ToEditText(const QString& text)
{
    QString s = text;
    return s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

QString ToEditText(const QByteArray& text)
{
    return ToEditText(QString::fromLocal8Bit(text));
}

CSysInfoSource& CurrentSysInfoSource()
{
    return g_pSourceOverride ? *g_pSourceOverride : PlatformSysInfoSource();
}

CScopedSysInfoSource::CScopedSysInfoSource(CSysInfoSource* pSource) : m_pSaved(g_pSourceOverride)
{
    g_pSourceOverride = pSource;
}

CScopedSysInfoSource::~CScopedSysInfoSource()
{
    g_pSourceOverride = m_pSaved;
}

CSysInfoDlg::CSysInfoDlg(QWidget* pParent) : QDialog(pParent)
{
    CreateTemplate();
}

CSysInfoDlg::~CSysInfoDlg() = default;

void CSysInfoDlg::CreateTemplate()
{
    setWindowTitle(QStringLiteral("System Information"));
    setFont(CDialogUnits::DialogFont());
    setModal(true);
    const CDialogUnits du(font());
    setFixedSize(du.X(385), du.Y(190));

    m_btnDone = new QPushButton(QStringLiteral("Done"), this);
    m_btnDone->setObjectName(QString::number(IDOK));
    m_btnDone->setGeometry(du.Rect(20, 160, 50, 14));
    m_btnDone->setDefault(true);
    connect(m_btnDone, &QPushButton::clicked, this, &QDialog::accept);
}

void CSysInfoDlg::DoDataExchange()
{
    if (m_editSummary)
        return; // bound once; later openings only refill the panes
    const CDialogUnits du(font());
    QPlainTextEdit** members[] = {&m_editSummary, &m_editDisk, &m_editMemory};
    for (int i = 0; i < 3; ++i)
        *members[i] = CreatePane(this, du, kPanes[i]);
    setTabOrder(m_btnDone, m_editSummary);
    setTabOrder(m_editSummary, m_editDisk);
    setTabOrder(m_editDisk, m_editMemory);
}

bool CSysInfoDlg::OnInitDialog()
{
    DoDataExchange();
    OnCtlColor();

    CSysInfoSource& source = m_pSource ? *m_pSource : CurrentSysInfoSource();
    m_editDisk->setPlainText(ToEditText(BuildDiskText(source.QueryDisk())));
    m_editMemory->setPlainText(ToEditText(BuildMemoryText(source.QueryMemory())));
    const QByteArray servicePack = GetServicePackText(source.QueryVersion());
    const QByteArray osName = GetOsName(source.QueryVersion());
    const QByteArray protocols = BuildProtocolsText(osName, source.QueryProtocols(osName));
    const QByteArray processor = BuildProcessorText(osName, source.QueryProcessor(osName));
    const QByteArray user = BuildUserText(source.QueryUser());
    m_editSummary->setPlainText(
        ToEditText(BuildSummaryText(user, processor, osName, servicePack, protocols)));

    m_btnDone->setFocus(); // the first tab stop
    return true;
}

void CSysInfoDlg::OnCtlColor()
{
    // The dialog and its panes in the opener's colours; "Done" in the system's.
    SetDialogColours(this, m_crBack, m_crText);
    for (QPlainTextEdit* pane : {m_editSummary, m_editDisk, m_editMemory})
        SetDialogColours(pane, m_crBack, m_crText);
    KeepSystemColours(m_btnDone);
}

int CSysInfoDlg::DoModal()
{
    OnInitDialog();
    return AfxDoModal(*this);
}

void CSysInfoDlg::paintEvent(QPaintEvent*)
{
    // The whole logo on every paint, whatever part was uncovered.
    QPainter painter(this);
    DrawTransparentBitmap(kLogoX, kLogoY, kLogoBitmap, RGB(255, 255, 255), &painter);
}

#include "moc_CSysInfoDlg.cpp"
