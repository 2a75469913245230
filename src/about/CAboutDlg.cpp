#include "CAboutDlg.h"

#include "Afx.h"
#include "CHyperLink.h"
#include "CSysInfoDlg.h"
#include "DialogColours.h"
#include "DialogUnits.h"
#include "DrawTransparentBitmap.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>

namespace {

// The maker's contact block.
const char* const kCompany = "Vorn Instruments Ltd.";
const char* const kStreet = "14 Harbour Lane";
const char* const kPostBox = "P.O. Box 2026";
const char* const kCityLine = "Vornhaven, VN 00042";
const char* const kWebSite = "www.vorn.example";
const char* const kFax = "1-800-555-0143";
const char* const kPhone = "1-800-555-0142"; // toll-free
const char* const kSupportEmail = "support@vorn.example";

QString S(const char* text)
{
    return QString::fromLatin1(text);
}

// A borderless, centred, read-only multi-line edit.
QTextEdit* CreateBlockEdit(QWidget* pParent, int id, const QRect& rect)
{
    auto* edit = new QTextEdit(pParent);
    edit->setObjectName(QString::number(id));
    edit->setGeometry(rect);
    edit->setReadOnly(true);
    edit->setAcceptRichText(false);
    edit->setFrameShape(QFrame::NoFrame);
    edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    edit->setLineWrapMode(QTextEdit::WidgetWidth);
    edit->setTabChangesFocus(true);
    edit->setFocusPolicy(Qt::StrongFocus);
    edit->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    edit->document()->setDocumentMargin(2);
    QTextOption option = edit->document()->defaultTextOption();
    option.setAlignment(Qt::AlignHCenter);
    edit->document()->setDefaultTextOption(option);
    return edit;
}

void SetCentredText(QTextEdit* edit, const QString& text)
{
    edit->setPlainText(ToEditText(text));
    QTextCursor cursor(edit->document());
    cursor.select(QTextCursor::Document);
    QTextBlockFormat format;
    format.setAlignment(Qt::AlignHCenter);
    cursor.mergeBlockFormat(format);
}

QLabel* CreateStatic(QLabel* label, int id, const QRect& rect, const QString& text)
{
    label->setObjectName(QString::number(id));
    label->setGeometry(rect);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    label->setText(text);
    return label;
}

} // namespace

CAboutDlg::CAboutDlg(QWidget* pParent) : QDialog(pParent)
{
    CreateTemplate();
    SetAddress(S(kCompany), S(kStreet), S(kPostBox), S(kCityLine));
    SetCaptionName(S(kCompany));
    SetWebSite(S(kWebSite), true);
    SetFax(S(kFax));
    SetPhone(S(kPhone), true);
    SetEmail(S(kSupportEmail));
    SetWebTarget(S(kWebSite));
    SetEmailTarget(S(kSupportEmail));
    const QString appDir =
        QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
    SetLicenseText(FindLicenseDocument(QDir::currentPath(), appDir), true);
    const QPalette system = QApplication::palette();
    m_crBack = FromQColor(system.color(QPalette::Active, QPalette::Button));
    m_crText = FromQColor(system.color(QPalette::Active, QPalette::ButtonText));
}

CAboutDlg::~CAboutDlg() = default;

void CAboutDlg::CreateTemplate()
{
    setWindowTitle(QStringLiteral("About VornAbout"));
    setFont(CDialogUnits::DialogFont());
    setModal(true);
    const CDialogUnits du(font());
    setFixedSize(du.X(400), du.Y(190));

    m_btnDone = new QPushButton(QStringLiteral("Done"), this);
    m_btnDone->setObjectName(QString::number(IDOK));
    m_btnDone->setGeometry(du.Rect(20, 160, 50, 14));
    m_btnDone->setDefault(true);
    connect(m_btnDone, &QPushButton::clicked, this, &QDialog::accept);
}

void CAboutDlg::SetCaptionName(const QString& name)
{
    m_strCaptionName = name;
}

void CAboutDlg::SetAddress(const QString& line1, const QString& line2, const QString& line3,
                           const QString& line4)
{
    m_strAddress1 = line1;
    m_strAddress2 = line2;
    m_strAddress3 = line3;
    m_strAddress4 = line4;
}

void CAboutDlg::SetWebSite(const QString& site, bool bPrefix)
{
    m_strWebSite = site;
    m_bWebPrefix = bPrefix;
}

void CAboutDlg::SetFax(const QString& fax)
{
    m_strFax = fax;
}

void CAboutDlg::SetPhone(const QString& phone, bool bPrefix)
{
    m_strPhone = phone;
    m_bPhonePrefix = bPrefix;
}

void CAboutDlg::SetEmail(const QString& email)
{
    m_strEmail = email;
}

void CAboutDlg::SetWebTarget(const QString& target)
{
    m_strWebTarget = target;
}

void CAboutDlg::SetEmailTarget(const QString& address)
{
    m_strEmailTarget = QStringLiteral("mailto:") + address;
}

void CAboutDlg::SetLicenseText(const QString& text, bool bIsFile)
{
    m_strLicense = text;
    m_bLicenseIsFile = bIsFile;
}

void CAboutDlg::SetProductLines(const QString& line1, const QString& line2, const QString& line3,
                                const QString& line4, const QString& line5)
{
    m_strProduct1 = line1;
    m_strProduct2 = line2;
    m_strProduct3 = line3;
    m_strProduct4 = line4;
    m_strProduct5 = line5;
}

QString CAboutDlg::ReadLicenseText(const QString& source, bool bIsFile)
{
    if (!bIsFile)
        return source;
    QFile file(source);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray data = file.readAll();

    // Lines end at LF, with or without CR before it; a last line without a
    // line end is a line too. The read that meets the end of the file adds
    // one more, empty, line.
    QByteArray text;
    int pos = 0;
    while (pos < data.size()) {
        const int lf = data.indexOf('\n', pos);
        const int end = lf < 0 ? int(data.size()) : lf;
        QByteArray line = data.mid(pos, end - pos);
        if (lf >= 0 && line.endsWith('\r'))
            line.chop(1);
        text += line + "\r\n";
        pos = end + 1;
    }
    text += "\r\n";
    return QString::fromLocal8Bit(text);
}

QString CAboutDlg::FindLicenseDocument(const QString& currentDir, const QString& appDir)
{
    const QString name = QString::fromLatin1(kLicenseFileName);
    const QString inCurrentDir = QDir(currentDir).filePath(name);
    QStringList candidates{inCurrentDir};
    if (!appDir.isEmpty()) {
        candidates << QDir(appDir).filePath(name)
                   << QDir::cleanPath(appDir + QStringLiteral("/../share/vornterm/") + name);
    }
    for (const QString& path : candidates) {
        if (QFileInfo(path).isFile())
            return path;
    }
    return inCurrentDir;
}

void CAboutDlg::DoDataExchange()
{
    if (m_editAddress)
        return; // bound once
    const CDialogUnits du(font());
    m_editAddress = CreateBlockEdit(this, IDC_ADDRESS, du.Rect(20, 61, 108, 40));
    m_staticFax =
        CreateStatic(new QLabel(this), IDC_FAX, du.Rect(20, 100, 108, 9), QStringLiteral("Fax"));
    m_staticPhone = CreateStatic(new QLabel(this), IDC_PHONE, du.Rect(20, 109, 108, 9),
                                 QStringLiteral("Phone"));
    m_linkWeb = static_cast<CHyperLink*>(CreateStatic(
        new CHyperLink(this), IDC_WEB, du.Rect(20, 130, 108, 9), QStringLiteral("Web")));
    m_linkEmail = static_cast<CHyperLink*>(CreateStatic(
        new CHyperLink(this), IDC_EMAIL, du.Rect(20, 120, 108, 9), QStringLiteral("Email")));

    m_editLicense = new QPlainTextEdit(this);
    m_editLicense->setObjectName(QString::number(IDC_LICENSE));
    m_editLicense->setGeometry(du.Rect(138, 65, 251, 120));
    m_editLicense->setReadOnly(true);
    m_editLicense->setTextInteractionFlags(Qt::TextSelectableByMouse |
                                           Qt::TextSelectableByKeyboard);
    m_editLicense->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_editLicense->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_editLicense->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_editLicense->setTabChangesFocus(true);
    m_editLicense->setFocusPolicy(Qt::StrongFocus);
    m_editLicense->document()->setDocumentMargin(2);

    m_editProduct = CreateBlockEdit(this, IDC_PRODUCT, du.Rect(158, 20, 165, 40));

    m_btnSystem = new QPushButton(QStringLiteral("System"), this);
    m_btnSystem->setObjectName(QString::number(IDC_SYSTEM));
    m_btnSystem->setGeometry(du.Rect(78, 160, 50, 14));
    // With the focus, it is the default button, as a focused push button in
    // a dialog is: Enter presses it, not "Done".
    m_btnSystem->setAutoDefault(true);
    connect(m_btnSystem, &QPushButton::clicked, this, &CAboutDlg::OnSystem);

    // Tab stops in template order.
    setTabOrder(m_btnDone, m_editAddress);
    setTabOrder(m_editAddress, m_editProduct);
    setTabOrder(m_editProduct, m_editLicense);
    setTabOrder(m_editLicense, m_btnSystem);
}

bool CAboutDlg::OnInitDialog()
{
    DoDataExchange();
    OnCtlColor();
    FillTexts();
    setWindowTitle(QStringLiteral("About ") + m_strCaptionName);
    m_btnDone->setFocus(); // the first tab stop
    return true;
}

void CAboutDlg::FillTexts()
{
    LoadLicenseText();
    SetCentredText(m_editAddress,
                   QStringLiteral("%1\r\n%2\r\n%3\r\n%4")
                       .arg(m_strAddress1, m_strAddress2, m_strAddress3, m_strAddress4));
    m_linkWeb->SetTarget(m_strWebTarget);
    m_linkWeb->setText(m_bWebPrefix ? QStringLiteral("Web Site: ") + m_strWebSite : m_strWebSite);
    m_staticPhone->setText(m_bPhonePrefix ? QStringLiteral("Phone: ") + m_strPhone : m_strPhone);
    m_staticFax->setText(QStringLiteral("Fax: ") + m_strFax);
    m_linkEmail->setText(m_strEmail);
    m_linkEmail->SetTarget(m_strEmailTarget);
    SetCentredText(m_editProduct, QStringLiteral("%1\r\n%2\r\n%3\r\n%4\r\n%5")
                                      .arg(m_strProduct1, m_strProduct2, m_strProduct3,
                                           m_strProduct4, m_strProduct5));
}

void CAboutDlg::LoadLicenseText()
{
    m_editLicense->setPlainText(ToEditText(ReadLicenseText(m_strLicense, m_bLicenseIsFile)));
}

void CAboutDlg::OnCtlColor()
{
    // The box, its statics and read-only edits in the box's colours; the
    // links draw their own colours over the box's background; the buttons
    // keep the system's.
    SetDialogColours(this, m_crBack, m_crText);
    for (QWidget* w : std::initializer_list<QWidget*>{m_editAddress, m_editProduct, m_staticFax,
                                                      m_staticPhone, m_editLicense})
        SetDialogColours(w, m_crBack, m_crText);
    KeepSystemColours(m_btnDone);
    KeepSystemColours(m_btnSystem);
    KeepSystemColours(m_editLicense->verticalScrollBar());
}

int CAboutDlg::DoModal()
{
    OnInitDialog();
    return AfxDoModal(*this);
}

void CAboutDlg::OnSystem()
{
    CSysInfoDlg dlg(this);
    dlg.m_crBack = m_crBack;
    dlg.m_crText = m_crText;
    dlg.DoModal();
}

void CAboutDlg::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    DrawTransparentBitmap(kLogoX, kLogoY, kLogoBitmap, RGB(255, 255, 255), &painter);
}

#include "moc_CAboutDlg.cpp"
