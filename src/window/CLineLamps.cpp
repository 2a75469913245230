#include "CLineLamps.h"

#include "CKrCommPort.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>

// One label: the line's name, lit (a green field) when on, dim when off,
// grey and slanted when its state is not known.
class CLineLamp : public QWidget
{
    Q_OBJECT
public:
    CLineLamp(CLineLamps& owner, KrLine line) : QWidget(&owner), m_owner(owner), m_line(line)
    {
        setFocusPolicy(Qt::NoFocus);
        setAccessibleName(KrLineName(line));
        // Smaller than the bar's text, so that a file send's progress keeps
        // room for its figures beside the six labels.
        QFont small = font();
        small.setPointSizeF(qMax(6.0, small.pointSizeF() * 0.8));
        setFont(small);
        if (IsOutput())
            setCursor(Qt::PointingHandCursor);
    }

    KrLine Line() const { return m_line; }
    bool IsOutput() const { return KrLineBit(m_line) & kKrOutputLines; }
    CLineLamps& Owner() const { return m_owner; }

    QSize sizeHint() const override
    {
        QFont bold = font();
        bold.setBold(true);
        const QFontMetrics fm(bold);
        return QSize(fm.horizontalAdvance(KrLineName(m_line)) + 4, fm.height());
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        const KrLines& lines = m_owner.Shown();
        const bool bKnown = lines.IsKnown(m_line);
        const bool bOn = bKnown && lines.IsOn(m_line);
        QPainter p(this);
        QFont f = font();
        f.setBold(bOn);
        f.setItalic(!bKnown);
        p.setFont(f);
        if (bOn) {
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(0x2e, 0xa0, 0x43));
            p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
            p.setPen(Qt::white);
        } else {
            p.setPen(palette().color(QPalette::Disabled, QPalette::WindowText));
        }
        p.drawText(rect(), Qt::AlignCenter, KrLineName(m_line));
    }

    void mouseReleaseEvent(QMouseEvent* pEvent) override
    {
        if (IsOutput() && pEvent->button() == Qt::LeftButton &&
            rect().contains(pEvent->position().toPoint()))
            m_owner.Toggle(m_line);
    }

private:
    CLineLamps& m_owner;
    KrLine m_line;
};

namespace {

// A label to assistive technology: DTR and RTS are check boxes that toggle,
// the input lines read-only indicators; checked when on.
class CLineLampAccessible : public QAccessibleWidget
{
public:
    explicit CLineLampAccessible(CLineLamp* pLamp)
        : QAccessibleWidget(pLamp,
                            pLamp->IsOutput() ? QAccessible::CheckBox : QAccessible::Indicator)
    {
    }

    CLineLamp* Lamp() const { return static_cast<CLineLamp*>(widget()); }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Description)
            return Lamp()->Owner().Describe(Lamp()->Line());
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        const KrLines& lines = Lamp()->Owner().Shown();
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = lines.IsKnown(Lamp()->Line()) && lines.IsOn(Lamp()->Line());
        s.checkStateMixed = !lines.IsKnown(Lamp()->Line());
        s.readOnly = !Lamp()->IsOutput();
        return s;
    }

    QStringList actionNames() const override
    {
        return Lamp()->IsOutput() ? QStringList{toggleAction()} : QStringList();
    }
    void doAction(const QString& actionName) override
    {
        if (Lamp()->IsOutput() && actionName == toggleAction())
            Lamp()->Owner().Toggle(Lamp()->Line());
    }
};

QAccessibleInterface* LampAccessibleFactory(const QString& className, QObject* pObject)
{
    if (className == QLatin1String("CLineLamp") && pObject && pObject->isWidgetType())
        return new CLineLampAccessible(static_cast<CLineLamp*>(pObject));
    return nullptr;
}

} // namespace

CLineLamps::CLineLamps(CKrCommPort& port, QWidget* pParent)
    : QWidget(pParent), m_port(port), m_pNote(new QLabel(this)), m_pSummary(new QLabel(this)),
      m_changed(this, [this] { Show(); })
{
    static const bool bFactory = [] {
        QAccessible::installFactory(LampAccessibleFactory);
        return true;
    }();
    Q_UNUSED(bFactory);

    setAccessibleName(QStringLiteral("Control lines"));
    auto* pLayout = new QHBoxLayout(this);
    // The status bar gives the lamps what room its part has; they arrange
    // themselves in it, never wider.
    pLayout->setSizeConstraint(QLayout::SetNoConstraint);
    pLayout->setContentsMargins(0, 0, 0, 0);
    pLayout->setSpacing(2);
    for (KrLine line : kKrWires) {
        auto* pLamp = new CLineLamp(*this, line);
        m_lamps.append(pLamp);
        pLayout->addWidget(pLamp);
    }
    m_pNote->setForegroundRole(QPalette::PlaceholderText);
    pLayout->addWidget(m_pNote);
    m_pSummary->setText(QStringLiteral("Lines"));
    m_pSummary->setMinimumWidth(0);
    m_pSummary->hide();
    pLayout->addWidget(m_pSummary);

    const struct
    {
        const char* text;
        KrLine line;
    } commands[] = {
        {"Pulse DTR", KrLine::Dtr}, {"Pulse RTS", KrLine::Rts}, {"Send Break", KrLine::Break}};
    for (const auto& c : commands) {
        auto* pAction = new QAction(QString::fromLatin1(c.text), this);
        const KrLine line = c.line;
        connect(pAction, &QAction::triggered, this, [this, line] {
            if (line == KrLine::Break)
                m_port.SendBreak();
            else
                m_port.PulseLine(line);
        });
        pAction->setData(int(line));
        m_actions.append(pAction);
    }
    Show();
}

QSize CLineLamps::sizeHint() const
{
    // As wide as the labels, whichever shows.
    int nWidth = 0;
    int nHeight = 0;
    for (const CLineLamp* pLamp : m_lamps) {
        nWidth += pLamp->sizeHint().width() + 2;
        nHeight = qMax(nHeight, pLamp->sizeHint().height());
    }
    return QSize(nWidth, nHeight);
}

void CLineLamps::OnPortLines(const KrLineEvent&)
{
    m_changed.Request();
}

void CLineLamps::Show()
{
    const KrLines lines = m_port.GetLines();
    const KrLines before = m_lines;
    m_lines = lines;
    const bool bAny = lines.nHave & kKrWireLines;
    QStringList states;
    for (CLineLamp* pLamp : m_lamps) {
        states << Describe(pLamp->Line()).section(QStringLiteral(" - "), 0, 0);
        pLamp->setToolTip(Describe(pLamp->Line()));
        pLamp->update();
        const quint8 bit = KrLineBit(pLamp->Line());
        if (bAny && ((lines.nOn ^ before.nOn) | (lines.nKnown ^ before.nKnown)) & bit) {
            QAccessible::State changed;
            changed.checked = true;
            changed.checkStateMixed = true;
            QAccessibleStateChangeEvent event(pLamp, changed);
            QAccessible::updateAccessibility(&event);
        }
    }
    // No stale labels: the reason instead, whole in the tooltip.
    m_pNote->setToolTip(lines.strNote);
    m_pSummary->setToolTip(states.join(QLatin1Char('\n')));
    m_pSummary->setAccessibleName(QStringLiteral("Control lines: ") +
                                  states.join(QStringLiteral(", ")));
    Arrange();
    m_pNote->setAccessibleName(lines.strNote);
    setToolTip(bAny ? lines.strNote : QString());
    setAccessibleDescription(lines.strNote);
    for (QAction* pAction : m_actions)
        pAction->setEnabled(lines.Has(KrLine(pAction->data().toInt())));
}

void CLineLamps::resizeEvent(QResizeEvent* pEvent)
{
    QWidget::resizeEvent(pEvent);
    Arrange();
}

void CLineLamps::Arrange()
{
    const bool bAny = m_lines.nHave & kKrWireLines;
    m_bCompact = width() < sizeHint().width();
    for (CLineLamp* pLamp : m_lamps)
        pLamp->setVisible(bAny && !m_bCompact);
    m_pSummary->setVisible(bAny && m_bCompact);
    m_pNote->setVisible(!bAny);
    m_pNote->setText(fontMetrics().elidedText(m_lines.strNote, Qt::ElideRight,
                                              qMin(width(), sizeHint().width())));
}

void CLineLamps::Toggle(KrLine line)
{
    if (m_lines.Has(line))
        m_port.SetLine(line, !(m_lines.IsKnown(line) && m_lines.IsOn(line)));
}

QString CLineLamps::Describe(KrLine line) const
{
    const QString name = QStringLiteral("%1 (%2): ").arg(KrLineName(line), KrLineTitle(line));
    if (!m_lines.Has(line))
        return name + QStringLiteral("not available");
    if (!m_lines.IsKnown(line))
        return name + (KrLineBit(line) & kKrOutputLines
                           ? QStringLiteral("not known - click to turn it on")
                           : QStringLiteral("not known"));
    const bool bOn = m_lines.IsOn(line);
    QString text = name + (bOn ? QStringLiteral("on") : QStringLiteral("off"));
    if (KrLineBit(line) & kKrOutputLines)
        text += bOn ? QStringLiteral(" - click to turn it off")
                    : QStringLiteral(" - click to turn it on");
    return text;
}

void CLineLamps::AddToMenu(QMenu* pMenu)
{
    pMenu->addSeparator();
    pMenu->addActions(m_actions);
}

#include "CLineLamps.moc"
