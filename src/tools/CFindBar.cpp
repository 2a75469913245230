#include "CFindBar.h"

#include <QAccessible>
#include <QCheckBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

CFindBar::CFindBar(QWidget* pParent) : QFrame(pParent)
{
    setObjectName(QStringLiteral("findBar"));
    setProperty(kKeepsKeys, true);
    setAccessibleName(tr("Find"));
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    auto* pLayout = new QHBoxLayout(this);
    pLayout->setContentsMargins(4, 2, 4, 2);
    pLayout->setSpacing(4);
    auto* pLabel = new QLabel(tr("Find:"), this);
    m_pEdit = new QLineEdit(this);
    m_pEdit->setAccessibleName(tr("Find what"));
    pLabel->setBuddy(m_pEdit);
    m_pMatchCase = new QCheckBox(tr("Match case"), this);
    m_pMatchCase->setAccessibleName(m_pMatchCase->text());
    auto* pPrevious = new QToolButton(this);
    pPrevious->setText(tr("Previous"));
    pPrevious->setAccessibleName(tr("Previous match"));
    pPrevious->setToolTip(tr("Previous match (Shift+F3)"));
    auto* pNext = new QToolButton(this);
    pNext->setText(tr("Next"));
    pNext->setAccessibleName(tr("Next match"));
    pNext->setToolTip(tr("Next match (F3)"));
    m_pResult = new QLabel(this);
    m_pResult->setMinimumWidth(
        m_pResult->fontMetrics().horizontalAdvance(QStringLiteral("888,888 of 888,888")));
    auto* pClose = new QToolButton(this);
    pClose->setText(QStringLiteral("\u00D7"));
    pClose->setAccessibleName(tr("Close find"));
    pClose->setToolTip(tr("Close (Escape)"));
    for (QWidget* w : std::initializer_list<QWidget*>{pLabel, m_pEdit, m_pMatchCase, pPrevious,
                                                      pNext, m_pResult, pClose}) {
        pLayout->addWidget(w);
        w->setProperty(kKeepsKeys, true);
    }
    m_pEdit->installEventFilter(this);
    connect(m_pEdit, &QLineEdit::textChanged, this, &CFindBar::FindChanged);
    connect(m_pMatchCase, &QCheckBox::toggled, this, &CFindBar::FindChanged);
    connect(pNext, &QToolButton::clicked, this, &CFindBar::FindNext);
    connect(pPrevious, &QToolButton::clicked, this, &CFindBar::FindPrevious);
    connect(pClose, &QToolButton::clicked, this, &CFindBar::hide);
    hide();
}

void CFindBar::Open()
{
    Place();
    show();
    raise();
    m_pEdit->setFocus(Qt::ShortcutFocusReason);
    m_pEdit->selectAll();
}

QString CFindBar::Text() const
{
    return m_pEdit->text();
}

bool CFindBar::MatchCase() const
{
    return m_pMatchCase->isChecked();
}

void CFindBar::ShowResult(const QString& text, bool bError)
{
    if (m_pResult->text() == text)
        return;
    m_pResult->setText(text);
    m_pResult->setToolTip(text);
    m_pResult->setStyleSheet(bError ? QStringLiteral("color: #c00000;") : QString());
    // The result's name is its text; the text field, which keeps the focus,
    // carries it as its description, whose change a screen reader speaks.
    // Each setter tells of its change.
    m_pResult->setAccessibleName(text);
    m_pEdit->setAccessibleDescription(text);
    QAccessibleEvent alert(m_pResult, QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);
}

QString CFindBar::Result() const
{
    return m_pResult->text();
}

bool CFindBar::eventFilter(QObject* pWatched, QEvent* pEvent)
{
    if (pWatched == m_pEdit && pEvent->type() == QEvent::KeyPress) {
        const auto* pKey = static_cast<QKeyEvent*>(pEvent);
        if (pKey->key() == Qt::Key_Escape) {
            hide();
            return true;
        }
        if (pKey->key() == Qt::Key_Return || pKey->key() == Qt::Key_Enter) {
            if (pKey->modifiers() & Qt::ShiftModifier)
                Q_EMIT FindPrevious();
            else
                Q_EMIT FindNext();
            return true;
        }
    }
    return QFrame::eventFilter(pWatched, pEvent);
}

void CFindBar::hideEvent(QHideEvent* pEvent)
{
    QFrame::hideEvent(pEvent);
    if (parentWidget())
        parentWidget()->setFocus(Qt::OtherFocusReason);
    Q_EMIT Closed();
}

void CFindBar::Place()
{
    // Over the top right of the data window, as wide as it needs.
    QWidget* pParent = parentWidget();
    adjustSize();
    const int w = qMin(sizeHint().width(), pParent->width());
    setGeometry(pParent->width() - w, 0, w, sizeHint().height());
}
