#include "CKrCommDlgPortCfg.h"

#include "Afx.h"
#include "CKrCommBackend.h"
#include "CKrCommPort.h"
#include "KrPortList.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {

const int kStandardBauds[] = {110,   300,   600,   1200,   2400,   4800,   9600,  14400,
                              19200, 38400, 57600, 115200, 230400, 460800, 921600};

void SelectData(QComboBox* pBox, int value)
{
    pBox->setCurrentIndex(pBox->findData(value));
}

} // namespace

CKrCommDlgDynamic::CKrCommDlgDynamic(QWidget* pParent) : QDialog(pParent) {}

CKrCommDlgDynamic::~CKrCommDlgDynamic() = default;

int CKrCommDlgDynamic::DoModal()
{
    return AfxDoModal(*this);
}

CKrCommDlgPortCfg::CKrCommDlgPortCfg(CKrCommPort* pPort, int nOption, QWidget* pParent)
    : CKrCommDlgDynamic(pParent), m_pPort(pPort), m_nOption(nOption),
      m_cboPort(new QComboBox(this)), m_lblPortInfo(new QLabel(this)),
      m_lblPortKinds(new QLabel(this)), m_cboBaud(new QComboBox(this)),
      m_cboData(new QComboBox(this)), m_cboParity(new QComboBox(this)),
      m_cboStop(new QComboBox(this)), m_cboFlow(new QComboBox(this)), m_cboDtr(new QComboBox(this)),
      m_cboRts(new QComboBox(this))
{
    setWindowTitle(QStringLiteral("Port Configuration"));

    // A path or URL not in the list can be typed.
    m_cboPort->setEditable(true);
    m_cboPort->setInsertPolicy(QComboBox::NoInsert);
    // Room for a long by-id path or a network URL.
    m_cboPort->setMinimumContentsLength(30);
    m_cboPort->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    for (const KrPortInfo& info : KrAvailablePorts()) {
        const QString text = KrPortInfoText(info);
        m_cboPort->addItem(info.strName, text);
        m_cboPort->setItemData(m_cboPort->count() - 1, text, Qt::ToolTipRole);
    }
    m_lblPortInfo->setWordWrap(true);
    // What can be typed in the port field, one line per kind of port.
    m_lblPortKinds->setText(KrPortKindHelp().join(QLatin1Char('\n')));
    m_lblPortKinds->setWordWrap(true);
    m_lblPortKinds->setEnabled(false);
    connect(m_cboPort, &QComboBox::currentTextChanged, this,
            [this](const QString& name) { ShowPortInfo(name); });

    m_cboBaud->setEditable(true);
    m_cboBaud->setInsertPolicy(QComboBox::NoInsert);
    for (int baud : kStandardBauds)
        m_cboBaud->addItem(QString::number(baud));

    for (int bits = 5; bits <= 8; ++bits)
        m_cboData->addItem(QString::number(bits), bits);
    m_cboParity->addItem(QStringLiteral("None"), int(KrParity::None));
    m_cboParity->addItem(QStringLiteral("Odd"), int(KrParity::Odd));
    m_cboParity->addItem(QStringLiteral("Even"), int(KrParity::Even));
    m_cboParity->addItem(QStringLiteral("Mark"), int(KrParity::Mark));
    m_cboParity->addItem(QStringLiteral("Space"), int(KrParity::Space));
    for (KrStopBits s : {KrStopBits::One, KrStopBits::OneAndHalf, KrStopBits::Two})
        m_cboStop->addItem(StopBitsText(s), int(s));
    m_cboFlow->addItem(QStringLiteral("None"), int(KrFlow::None));
    m_cboFlow->addItem(FlowText(KrFlow::RtsCts), int(KrFlow::RtsCts));
    m_cboFlow->addItem(FlowText(KrFlow::XonXoff), int(KrFlow::XonXoff));
    for (QComboBox* pBox : {m_cboDtr, m_cboRts}) {
        pBox->addItem(QStringLiteral("On"), int(KrLineAtOpen::On));
        pBox->addItem(QStringLiteral("Off"), int(KrLineAtOpen::Off));
        pBox->addItem(QStringLiteral("As the system leaves it"), int(KrLineAtOpen::Keep));
    }
    // Why "Off" is there, and what it cannot prevent.
    auto* pLinesWhy = new QLabel(
        QStringLiteral("Off is for boards that reset when DTR or RTS is raised. The system may "
                       "still raise them for a moment as the port opens."),
        this);
    pLinesWhy->setWordWrap(true);
    pLinesWhy->setEnabled(false);

    auto* pForm = new QFormLayout;
    pForm->addRow(QStringLiteral("&Port:"), m_cboPort);
    pForm->addRow(QString(), m_lblPortInfo);
    pForm->addRow(QString(), m_lblPortKinds);
    pForm->addRow(QStringLiteral("&Baud rate:"), m_cboBaud);
    pForm->addRow(QStringLiteral("&Data bits:"), m_cboData);
    pForm->addRow(QStringLiteral("P&arity:"), m_cboParity);
    pForm->addRow(QStringLiteral("&Stop bits:"), m_cboStop);
    pForm->addRow(QStringLiteral("&Flow control:"), m_cboFlow);
    pForm->addRow(QStringLiteral("D&TR at open:"), m_cboDtr);
    pForm->addRow(QStringLiteral("&RTS at open:"), m_cboRts);
    pForm->addRow(QString(), pLinesWhy);

    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(pButtons, &QDialogButtonBox::accepted, this, &CKrCommDlgPortCfg::accept);
    connect(pButtons, &QDialogButtonBox::rejected, this, &CKrCommDlgPortCfg::reject);

    auto* pLayout = new QVBoxLayout(this);
    pLayout->addLayout(pForm);
    pLayout->addWidget(pButtons);

    SetFields(m_pPort ? m_pPort->GetConfig() : CKrCommConfig());
}

CKrCommDlgPortCfg::~CKrCommDlgPortCfg() = default;

void CKrCommDlgPortCfg::SetFields(const CKrCommConfig& config)
{
    m_base = config;
    const int nIndex = m_cboPort->findText(config.strPort);
    if (nIndex >= 0)
        m_cboPort->setCurrentIndex(nIndex);
    m_cboPort->setEditText(config.strPort);
    ShowPortInfo(config.strPort);
    m_cboBaud->setEditText(QString::number(config.nBaud));
    SelectData(m_cboData, config.nDataBits);
    SelectData(m_cboParity, int(config.parity));
    SelectData(m_cboStop, int(config.stopBits));
    SelectData(m_cboFlow, int(config.flow));
    SelectData(m_cboDtr, int(config.dtrAtOpen));
    SelectData(m_cboRts, int(config.rtsAtOpen));
}

CKrCommConfig CKrCommDlgPortCfg::FieldsConfig() const
{
    CKrCommConfig config = m_base;
    config.SetField(QStringLiteral("port"), m_cboPort->currentText(), nullptr);
    config.SetField(QStringLiteral("baud"), m_cboBaud->currentText(), nullptr);
    if (m_cboData->currentIndex() >= 0)
        config.nDataBits = m_cboData->currentData().toInt();
    if (m_cboParity->currentIndex() >= 0)
        config.parity = KrParity(m_cboParity->currentData().toInt());
    if (m_cboStop->currentIndex() >= 0)
        config.stopBits = KrStopBits(m_cboStop->currentData().toInt());
    if (m_cboFlow->currentIndex() >= 0)
        config.flow = KrFlow(m_cboFlow->currentData().toInt());
    if (m_cboDtr->currentIndex() >= 0)
        config.dtrAtOpen = KrLineAtOpen(m_cboDtr->currentData().toInt());
    if (m_cboRts->currentIndex() >= 0)
        config.rtsAtOpen = KrLineAtOpen(m_cboRts->currentData().toInt());
    return config;
}

bool CKrCommDlgPortCfg::ReadFields(CKrCommConfig* pConfig, QString* pError) const
{
    CKrCommConfig config = FieldsConfig();
    // The typed fields again, this time for their messages.
    if (!config.SetField(QStringLiteral("port"), m_cboPort->currentText(), pError) ||
        !config.SetField(QStringLiteral("baud"), m_cboBaud->currentText(), pError) ||
        !config.IsValid(pError))
        return false;
    *pConfig = config;
    return true;
}

void CKrCommDlgPortCfg::accept()
{
    CKrCommConfig config;
    QString error;
    if (!ReadFields(&config, &error)) {
        AfxMessageBox(error, MB_OK);
        if (error.startsWith(QLatin1String("baud")))
            m_cboBaud->setFocus();
        else if (error.startsWith(QLatin1String("port")))
            m_cboPort->setFocus();
        return;
    }
    if (m_pPort)
        m_pPort->SetConfig(config);
    QDialog::accept();
}

void CKrCommDlgPortCfg::ShowPortInfo(const QString& name)
{
    const int nIndex = m_cboPort->findText(name.trimmed());
    m_lblPortInfo->setText(nIndex >= 0 ? m_cboPort->itemData(nIndex).toString() : QString());
}
