#include "CDataScrollBar.h"

#include <QEvent>
#include <QStyle>
#include <QStyleOptionSlider>

CDataScrollBar::CDataScrollBar(QWidget* pParent) : QScrollBar(Qt::Vertical, pParent) {}

CDataScrollBar::SLook CDataScrollBar::Look() const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    SLook look;
    look.handle =
        style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this);
    look.bAtMin = value() == minimum();
    look.bAtMax = value() == maximum();
    return look;
}

void CDataScrollBar::sliderChange(SliderChange change)
{
    if (!m_bValid || change == SliderOrientationChange) {
        QScrollBar::sliderChange(change);
        return;
    }
    if (!m_bComparing) {
        m_bComparing = true;
        QMetaObject::invokeMethod(this, &CDataScrollBar::Compare, Qt::QueuedConnection);
    }
}

void CDataScrollBar::Compare()
{
    m_bComparing = false;
    const SLook look = Look();
    if (m_bValid && look == m_painted)
        return;
    m_painted = look;
    m_bValid = true;
    update();
}

void CDataScrollBar::paintEvent(QPaintEvent* pEvent)
{
    m_painted = Look();
    m_bValid = true;
    QScrollBar::paintEvent(pEvent);
}

void CDataScrollBar::resizeEvent(QResizeEvent* pEvent)
{
    m_bValid = false;
    QScrollBar::resizeEvent(pEvent);
}

void CDataScrollBar::changeEvent(QEvent* pEvent)
{
    m_bValid = false;
    QScrollBar::changeEvent(pEvent);
}
