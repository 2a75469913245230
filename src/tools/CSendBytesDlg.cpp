#include "CSendBytesDlg.h"

#include "ByteSyntax.h"

#include <QAccessible>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CSendBytesDlg::CSendBytesDlg(std::function<bool(const QByteArray&)> send, QStringList& history,
                             QWidget* pParent)
    : QDialog(pParent), m_send(std::move(send)), m_history(history)
{
    setWindowTitle(tr("Send Bytes"));
    m_pLine = new QComboBox(this);
    m_pLine->setEditable(true);
    m_pLine->setInsertPolicy(QComboBox::NoInsert);
    m_pLine->addItems(m_history);
    m_pLine->setCurrentText(QString());
    m_pLine->setAccessibleName(tr("Bytes to send"));
    m_pLine->setMinimumContentsLength(32);
    m_pForm = new QComboBox(this);
    m_pForm->addItem(tr("Text with escapes (\\r \\n \\t \\\\ \\xNN)"));
    m_pForm->addItem(tr("Hex bytes (0D 0A)"));
    m_pForm->setAccessibleName(tr("Written as"));
    m_pEnding = new QComboBox(this);
    m_pEnding->addItems({tr("None"), tr("CR"), tr("LF"), tr("CR LF")});
    m_pEnding->setAccessibleName(tr("Line ending"));
    m_pError = new QLabel(this);
    m_pError->setWordWrap(true);
    m_pError->setStyleSheet(QStringLiteral("color: #c00000;"));
    m_pError->setAccessibleName(tr("Error"));

    auto* pForm = new QFormLayout;
    pForm->addRow(tr("&Bytes:"), m_pLine);
    pForm->addRow(tr("&Written as:"), m_pForm);
    pForm->addRow(tr("Line &ending:"), m_pEnding);
    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton* pSend = pButtons->addButton(tr("&Send"), QDialogButtonBox::ActionRole);
    pSend->setDefault(true);
    pSend->setAutoDefault(true);
    connect(pSend, &QPushButton::clicked, this, [this] { SendLine(); });
    connect(pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* pLayout = new QVBoxLayout(this);
    pLayout->addLayout(pForm);
    pLayout->addWidget(m_pError);
    pLayout->addWidget(pButtons);
    m_pLine->setFocus();
}

QByteArray CSendBytesDlg::BytesFor(const QString& line, Form form, Ending ending, QString* pError,
                                   int* pErrorAt)
{
    const ByteSyntax::Parsed parsed =
        form == Form::Hex ? ByteSyntax::FromHex(line) : ByteSyntax::FromEscaped(line);
    if (!parsed.IsValid()) {
        if (pError)
            *pError = parsed.strError;
        if (pErrorAt)
            *pErrorAt = parsed.nErrorAt;
        return QByteArray();
    }
    static const char* const kEndings[] = {"", "\r", "\n", "\r\n"};
    return parsed.bytes + QByteArray(kEndings[int(ending)]);
}

bool CSendBytesDlg::SendLine()
{
    const QString line = m_pLine->currentText();
    QString error;
    int nAt = -1;
    const QByteArray bytes = BytesFor(line, Form(m_pForm->currentIndex()),
                                      Ending(m_pEnding->currentIndex()), &error, &nAt);
    if (!error.isEmpty()) {
        // Nothing goes; the place of the fault is selected for mending.
        m_pError->setText(error);
        QAccessibleEvent event(m_pError, QAccessible::Alert);
        QAccessible::updateAccessibility(&event);
        if (QLineEdit* pEdit = m_pLine->lineEdit())
            pEdit->setSelection(qMax(0, nAt), 1);
        m_pLine->setFocus();
        return false;
    }
    m_pError->clear();
    if (bytes.isEmpty() || !m_send(bytes))
        return false;
    m_history.removeAll(line);
    m_history.prepend(line);
    while (m_history.size() > kHistory)
        m_history.removeLast();
    m_pLine->clear();
    m_pLine->addItems(m_history);
    m_pLine->setCurrentText(QString());
    return true;
}

QString CSendBytesDlg::Error() const
{
    return m_pError->text();
}
