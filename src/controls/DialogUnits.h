#pragma once
// Dialog units to pixels, as dialog templates are laid out: x px = dlu * the
// dialog font's average character width / 4, y px = dlu * its height / 8.

#include <QFont>
#include <QFontMetrics>
#include <QRect>

class DialogUnits
{
public:
    explicit DialogUnits(const QFont& font)
    {
        const QFontMetrics fm(font);
        // The average width of the 52 letters, rounded as base units are.
        const int nLetters = fm.horizontalAdvance(
            QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
        m_nBaseX = (nLetters / 26 + 1) / 2;
        m_nBaseY = fm.height();
        if (m_nBaseX <= 0)
            m_nBaseX = 6;
        if (m_nBaseY <= 0)
            m_nBaseY = 13;
    }
    DialogUnits(int nBaseX, int nBaseY) : m_nBaseX(nBaseX), m_nBaseY(nBaseY) {}

    int X(int dlu) const { return dlu * m_nBaseX / 4; }
    int Y(int dlu) const { return dlu * m_nBaseY / 8; }
    QRect Rect(int x, int y, int cx, int cy) const { return QRect(X(x), Y(y), X(cx), Y(cy)); }

    int BaseX() const { return m_nBaseX; }
    int BaseY() const { return m_nBaseY; }

private:
    int m_nBaseX;
    int m_nBaseY;
};
