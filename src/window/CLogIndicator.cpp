#include "CLogIndicator.h"

#include "CInputLog.h"
#include "Figure.h"

#include <QCheckBox>

CLogIndicator::CLogIndicator(QCheckBox* pCheck, CInputLog& log)
    : QObject(pCheck), m_pCheck(pCheck), m_log(log), m_update(this, [this] { Update(); })
{
    connect(pCheck, &QCheckBox::toggled, this, &CLogIndicator::Update);
    // The log's writer thread tells of trouble, and of every change of what
    // waits; the owner clears this (CInputLog::Finish) before the box goes.
    m_log.SetStateChangedCallback([this] { m_update.Request(); });
}

void CLogIndicator::Update()
{
    if (!m_pCheck->isChecked())
        m_nLostSeen = m_log.LostBytes();
    const qint64 nLost = m_log.LostBytes() - m_nLostSeen;
    QString text = m_log.FailureText();
    if (text.isEmpty() && nLost > 0)
        text = QStringLiteral("%1 received bytes could not be written to the log and were lost")
                   .arg(Figure(nLost));
    // Only what changed is set again: a new style sheet costs a restyle.
    const QString style =
        text.isEmpty() ? QString() : QStringLiteral("QCheckBox { color: #c00000; }");
    // A timing index that cannot be written leaves the log as it is: said,
    // not marked red.
    const QString strIndex = m_pCheck->isChecked() ? m_log.IndexFailureText() : QString();
    if (!strIndex.isEmpty())
        text = (text.isEmpty() ? QString() : text + QLatin1Char('\n')) +
               QStringLiteral("The log is written without arrival times. %1").arg(strIndex);
    if (m_pCheck->styleSheet() != style)
        m_pCheck->setStyleSheet(style);
    if (m_pCheck->toolTip() != text)
        m_pCheck->setToolTip(text);
}
