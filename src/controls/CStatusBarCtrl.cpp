#include "CStatusBarCtrl.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

CStatusBarCtrl::CStatusBarCtrl(QWidget* pParent) : QWidget(pParent)
{
    m_parts = {-1};
    m_texts = {QString()};
    setAccessibleName(QStringLiteral("Status bar"));
}

void CStatusBarCtrl::SetParts(const QVector<int>& rightEdges)
{
    m_parts = rightEdges.isEmpty() ? QVector<int>{-1} : rightEdges;
    while (m_texts.size() < m_parts.size())
        m_texts.append(QString());
    while (m_texts.size() > m_parts.size())
        m_texts.removeLast();
    update();
}

QRect CStatusBarCtrl::PartRect(int nPart) const
{
    if (nPart < 0 || nPart >= m_parts.size())
        return QRect();
    const int left = nPart == 0 ? 0 : qMax(0, m_parts[nPart - 1]);
    const int right = m_parts[nPart] < 0 ? width() : m_parts[nPart];
    return QRect(left, 0, qMax(0, right - left), height());
}

void CStatusBarCtrl::SetText(int nPart, const QString& text)
{
    if (nPart < 0 || nPart >= m_texts.size() || m_texts[nPart] == text)
        return;
    m_texts[nPart] = text;
    update(PartRect(nPart));
}

QString CStatusBarCtrl::GetText(int nPart) const
{
    return nPart >= 0 && nPart < m_texts.size() ? m_texts[nPart] : QString();
}

QSize CStatusBarCtrl::sizeHint() const
{
    return QSize(200, qMax(18, fontMetrics().height() + 6));
}

void CStatusBarCtrl::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    for (int i = 0; i < m_parts.size(); ++i) {
        const QRect r = PartRect(i).adjusted(0, 2, -2, 0);
        if (r.width() <= 0)
            continue;
        QStyleOptionFrame opt;
        opt.initFrom(this);
        opt.rect = r;
        opt.state |= QStyle::State_Sunken;
        opt.lineWidth = 1;
        style()->drawPrimitive(QStyle::PE_Frame, &opt, &p, this);
        p.drawText(r.adjusted(3, 0, -3, 0), Qt::AlignLeft | Qt::AlignVCenter, m_texts[i]);
    }
}
