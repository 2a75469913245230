#include "CXferDialog.h"

#include "Afx.h"

#include <QAccessible>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// What an XMODEM file is called when the user gave only a folder.
const char* const kDefaultName = "received.bin";

} // namespace

CXferDialog::CXferDialog(const SXferJob& initial, const QString& strBase, QWidget* pParent)
    : QDialog(pParent), m_bSend(initial.bSend), m_strBase(strBase)
{
    setWindowTitle(m_bSend ? tr("Send File with XMODEM/YMODEM")
                           : tr("Receive Files with XMODEM/YMODEM"));
    m_pPathLabel = new QLabel(this);
    m_pPath = new QLineEdit(QDir::toNativeSeparators(initial.strPath), this);
    m_pPath->setMinimumWidth(fontMetrics().averageCharWidth() * 48);
    m_pPathLabel->setBuddy(m_pPath);
    m_pBrowse = new QPushButton(tr("&Browse..."), this);
    m_pBrowse->setAutoDefault(false);
    m_pProtocol = new QComboBox(this);
    if (m_bSend) {
        m_pProtocol->addItem(tr("YMODEM (1024-byte blocks, sends the name and size)"),
                             int(XferProtocol::Ymodem));
        m_pProtocol->addItem(tr("XMODEM-1K (1024-byte blocks)"), int(XferProtocol::Xmodem1k));
        m_pProtocol->addItem(tr("XMODEM (128-byte blocks)"), int(XferProtocol::Xmodem));
    } else {
        m_pProtocol->addItem(tr("YMODEM (the sender names the files)"), int(XferProtocol::Ymodem));
        m_pProtocol->addItem(tr("XMODEM (CRC or checksum, as the sender can)"),
                             int(XferProtocol::XmodemCrc));
    }
    m_pProtocol->setCurrentIndex(qMax(0, m_pProtocol->findData(int(initial.eProtocol))));
    m_pProtocol->setAccessibleName(tr("Protocol"));
    auto* pProtocolLabel = new QLabel(tr("&Protocol:"), this);
    pProtocolLabel->setBuddy(m_pProtocol);
    m_pHint = new QLabel(this);
    m_pHint->setWordWrap(true);
    m_pError = new QLabel(this);
    m_pError->setWordWrap(true);
    m_pError->setStyleSheet(QStringLiteral("color: #c00000;"));
    m_pError->setAccessibleName(tr("Error"));
    m_pError->hide();

    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_pOk = pButtons->button(QDialogButtonBox::Ok);
    m_pOk->setDefault(true);
    pButtons->button(QDialogButtonBox::Cancel)->setAutoDefault(false);
    connect(pButtons, &QDialogButtonBox::accepted, this, &CXferDialog::accept);
    connect(pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_pBrowse, &QPushButton::clicked, this, &CXferDialog::OnBrowse);

    auto* pGrid = new QGridLayout;
    pGrid->addWidget(m_pPathLabel, 0, 0);
    pGrid->addWidget(m_pPath, 0, 1);
    pGrid->addWidget(m_pBrowse, 0, 2);
    pGrid->addWidget(pProtocolLabel, 1, 0);
    pGrid->addWidget(m_pProtocol, 1, 1, 1, 2);
    pGrid->setColumnStretch(1, 1);
    auto* pLayout = new QVBoxLayout(this);
    pLayout->addLayout(pGrid);
    pLayout->addWidget(m_pHint);
    pLayout->addWidget(m_pError);
    pLayout->addStretch();
    pLayout->addWidget(pButtons);

    m_bIntoFolder = initial.IntoFolder();
    OnProtocolChanged();
    connect(m_pProtocol, &QComboBox::currentIndexChanged, this, &CXferDialog::OnProtocolChanged);
    m_pPath->setFocus();
    m_pPath->selectAll();
}

SXferJob CXferDialog::Job() const
{
    SXferJob job;
    job.bSend = m_bSend;
    job.eProtocol = XferProtocol(m_pProtocol->currentData().toInt());
    job.strPath = XferJobCheck::Resolve(m_pPath->text(), m_strBase);
    return job;
}

QString CXferDialog::Error() const
{
    return m_pError->isHidden() ? QString() : m_pError->text();
}

void CXferDialog::accept()
{
    QString strError;
    if (!XferJobCheck::Check(Job(), &strError)) {
        ShowError(strError);
        return;
    }
    QDialog::accept();
}

void CXferDialog::ShowError(const QString& text)
{
    m_pError->setText(text);
    m_pError->show();
    QAccessibleEvent event(m_pError, QAccessible::Alert);
    QAccessible::updateAccessibility(&event);
    m_pPath->setFocus();
    m_pPath->selectAll();
}

void CXferDialog::OnBrowse()
{
    const SXferJob job = Job();
    QString strChosen;
    if (m_bSend) {
        strChosen = AfxGetOpenFileName(this);
    } else if (job.IntoFolder()) {
        QFileDialog chooser(this, tr("Folder to Receive Into"));
        chooser.setFileMode(QFileDialog::Directory);
        chooser.setOption(QFileDialog::ShowDirsOnly);
        chooser.setDirectory(job.strPath.isEmpty() ? m_strBase : job.strPath);
        if (AfxDoModal(chooser) == IDOK)
            strChosen = chooser.selectedFiles().value(0);
    } else {
        strChosen = AfxGetSaveFileName(
            this, job.strPath.isEmpty() ? QDir(m_strBase).filePath(QLatin1String(kDefaultName))
                                        : job.strPath);
    }
    if (!strChosen.isEmpty())
        m_pPath->setText(QDir::toNativeSeparators(strChosen));
    m_pPath->setFocus();
}

void CXferDialog::OnProtocolChanged()
{
    if (m_bSend) {
        m_pPathLabel->setText(tr("&File:"));
        m_pPath->setAccessibleName(tr("File to send"));
        m_pBrowse->setAccessibleName(tr("Browse for the file to send"));
        m_pHint->setText(tr("Start the receiving side too (a boot loader's \"loady\" for "
                            "YMODEM, \"loadx\" for XMODEM), before or after OK."));
        return;
    }
    const bool bIntoFolder = Job().IntoFolder();
    // The path follows: the folder of a file for YMODEM, a file in the
    // folder for XMODEM, its name selected for typing over.
    const QString strTyped = m_pPath->text().trimmed();
    if (bIntoFolder != m_bIntoFolder && !strTyped.isEmpty()) {
        const QString strPath = XferJobCheck::Resolve(strTyped, m_strBase);
        if (bIntoFolder && !QFileInfo(strPath).isDir()) {
            m_pPath->setText(QDir::toNativeSeparators(QFileInfo(strPath).absolutePath()));
        } else if (!bIntoFolder && QFileInfo(strPath).isDir()) {
            m_pPath->setText(
                QDir::toNativeSeparators(QDir(strPath).filePath(QLatin1String(kDefaultName))));
            const int nName = int(m_pPath->text().size() - qstrlen(kDefaultName));
            m_pPath->setSelection(nName, int(qstrlen(kDefaultName)));
        }
    }
    m_bIntoFolder = bIntoFolder;
    if (bIntoFolder) {
        m_pPathLabel->setText(tr("&Folder:"));
        m_pPath->setAccessibleName(tr("Folder to receive into"));
        m_pBrowse->setAccessibleName(tr("Browse for the folder to receive into"));
        m_pHint->setText(tr("YMODEM: the sender names the files; they go into this folder. "
                            "A name already taken gets a number."));
    } else {
        m_pPathLabel->setText(tr("&File:"));
        m_pPath->setAccessibleName(tr("File to receive into"));
        m_pBrowse->setAccessibleName(tr("Browse for the file to receive into"));
        m_pHint->setText(tr("XMODEM sends no name: give the file to write. A name already "
                            "taken gets a number."));
    }
}
