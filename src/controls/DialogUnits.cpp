#include "DialogUnits.h"

#include <QFontMetrics>

CDialogUnits::CDialogUnits(const QFont& font)
{
    const QFontMetrics fm(font);
    // The average width as the platform measures it for dialog base units.
    const int width = fm.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_baseX = qMax(1, (width / 26 + 1) / 2);
    m_baseY = qMax(1, fm.height());
}

QFont CDialogUnits::DialogFont()
{
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSize(8);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

int CDialogUnits::X(int dlu) const
{
    return (dlu * m_baseX + 2) / 4; // rounded, as the platform maps dialog rectangles
}

int CDialogUnits::Y(int dlu) const
{
    return (dlu * m_baseY + 4) / 8;
}

QRect CDialogUnits::Rect(int x, int y, int cx, int cy) const
{
    return QRect(X(x), Y(y), X(cx), Y(cy));
}
