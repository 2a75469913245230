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
    // Only -1 runs to the end; an edge left of where the part starts (a bar
    // narrower than its parts) leaves the part empty rather than on top of
    // the others.
    int left = 0;
    for (int i = 0; i <= nPart; ++i) {
        const int right = m_parts[i] == -1 ? width() : qMax(left, m_parts[i]);
        if (i == nPart)
            return QRect(left, 0, right - left, height());
        left = right;
    }
    return QRect();
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
