#include "CSendBytesDlg.h"

#include "ByteSyntax.h"
#include "CBoundedLineEdit.h"

#include <QAccessible>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QString Figure(qsizetype n)
{
    return QLocale(QLocale::English).toString(n);
}

QString TooLong()
{
    return QStringLiteral("the line has more than %1 characters, the most Send Bytes takes; "
                          "nothing was sent (Send Text File sends more)")
        .arg(Figure(CSendBytesDlg::kMaxLine));
}

} // namespace

CSendBytesDlg::CSendBytesDlg(std::function<bool(const QByteArray&)> send, QStringList& history,
                             QWidget* pParent)
    : QDialog(pParent), m_send(std::move(send)), m_history(history)
{
    setWindowTitle(tr("Send Bytes"));
    m_pLine = new QComboBox(this);
    m_pLine->setEditable(true);
    // A paste goes in whole or not at all.
    auto* pEdit = new CBoundedLineEdit(kMaxLine, m_pLine);
    m_pLine->setLineEdit(pEdit);
    connect(pEdit, &CBoundedLineEdit::Refused, this, [this](qsizetype nLength) {
        ShowError(QStringLiteral("the line would have %1 characters, more than the %2 Send Bytes "
                                 "takes; nothing was pasted (Send Text File sends more)")
                      .arg(Figure(nLength), Figure(kMaxLine)));
    });
    m_pLine->setInsertPolicy(QComboBox::NoInsert);
    // A long line from the history must not widen the dialog.
    m_pLine->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_pLine->setMinimumContentsLength(32);
    // Typing stops one past the most: that line is refused whole, never
    // sent in part.
    pEdit->setMaxLength(kMaxLine + 1);
    m_pLine->addItems(m_history);
    m_pLine->setCurrentText(QString());
    m_pLine->setAccessibleName(tr("Bytes to send"));
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

    // Each box is labelled by its label: a screen reader names it so (on
    // Linux a combo box's own name is its current value).
    auto* pForm = new QFormLayout;
    const auto addRow = [&](const QString& text, QWidget* pField) {
        auto* pLabel = new QLabel(text, this);
        pLabel->setBuddy(pField);
        pForm->addRow(pLabel, pField);
    };
    addRow(tr("&Bytes:"), m_pLine);
    addRow(tr("&Written as:"), m_pForm);
    addRow(tr("Line &ending:"), m_pEnding);
    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton* pSend = pButtons->addButton(tr("&Send"), QDialogButtonBox::ActionRole);
    pSend->setDefault(true);
    pSend->setAutoDefault(true);
    connect(pSend, &QPushButton::clicked, this, [this] { SendLine(); });
    connect(pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_pLine, &QComboBox::currentTextChanged, this, &CSendBytesDlg::OnLineChanged);
    auto* pLayout = new QVBoxLayout(this);
    pLayout->addLayout(pForm);
    pLayout->addWidget(m_pError);
    pLayout->addWidget(pButtons);
    m_pLine->setFocus();
}

QByteArray CSendBytesDlg::BytesFor(const QString& line, Form form, Ending ending, QString* pError,
                                   int* pErrorAt, int* pErrorLength)
{
    ByteSyntax::Parsed parsed;
    if (line.size() > kMaxLine) {
        parsed.nErrorAt = kMaxLine; // where it is too long
        parsed.nErrorLength = int(line.size()) - kMaxLine;
        parsed.strError = TooLong();
    } else {
        parsed = form == Form::Hex ? ByteSyntax::FromHex(line) : ByteSyntax::FromEscaped(line);
    }
    if (!parsed.IsValid()) {
        if (pError)
            *pError = parsed.strError;
        if (pErrorAt)
            *pErrorAt = parsed.nErrorAt;
        if (pErrorLength)
            *pErrorLength = parsed.nErrorLength;
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
    int nLength = 0;
    const QByteArray bytes = BytesFor(line, Form(m_pForm->currentIndex()),
                                      Ending(m_pEnding->currentIndex()), &error, &nAt, &nLength);
    if (!error.isEmpty()) {
        // Nothing goes; the place of the fault is selected for mending.
        ShowError(error, nAt, nLength);
        m_bTooLong = line.size() > kMaxLine;
        return false;
    }
    if (bytes.isEmpty()) {
        ShowError(QString());
        return false;
    }
    if (!m_send(bytes)) {
        ShowError(tr("nothing was sent: the port did not take the bytes (it is not open, or "
                     "its queue is full)"));
        return false;
    }
    ShowError(QString());
    m_history.removeAll(line);
    m_history.prepend(line);
    while (m_history.size() > kHistory)
        m_history.removeLast();
    m_pLine->clear();
    m_pLine->addItems(m_history);
    m_pLine->setCurrentText(QString());
    return true;
}

void CSendBytesDlg::OnLineChanged(const QString& line)
{
    // Told at once, as the paste or the typing happens.
    const bool bTooLong = line.size() > kMaxLine;
    if (bTooLong && !m_bTooLong)
        ShowError(TooLong());
    else if (!bTooLong && m_bTooLong)
        ShowError(QString());
    m_bTooLong = bTooLong;
}

void CSendBytesDlg::ShowError(const QString& error, int nAt, int nLength)
{
    m_bTooLong = false;
    if (error.isEmpty() && m_pError->text().isEmpty())
        return;
    m_pError->setText(error);
    // The label's name is its text; the line, which keeps the focus, carries
    // it as its description, whose change a screen reader speaks. Each
    // change is told by the setter; the same refusal again is cleared first,
    // so that it is heard again.
    QLineEdit* pEdit = m_pLine->lineEdit();
    const QList<QWidget*> described{m_pLine, pEdit};
    if (!error.isEmpty() && m_pError->accessibleName() == error) {
        m_pError->setAccessibleName(QString());
        for (QWidget* pWidget : described)
            pWidget->setAccessibleDescription(QString());
    }
    m_pError->setAccessibleName(error);
    for (QWidget* pWidget : described)
        pWidget->setAccessibleDescription(error);
    if (error.isEmpty())
        return;
    QAccessibleEvent alert(m_pError, QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);
    if (nAt >= 0)
        pEdit->setSelection(nAt, qMax(1, nLength));
    m_pLine->setFocus();
}

QString CSendBytesDlg::Error() const
{
    return m_pError->text();
}
