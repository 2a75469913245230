#pragma once
// Dialog layouts are given in dialog units: a quarter of the dialog font's
// average character width horizontally, an eighth of its height vertically.
// User-interface thread (it measures fonts).

#include <QFont>
#include <QRect>

class CDialogUnits
{
public:
    explicit CDialogUnits(const QFont& font);

    // 8-point "MS Sans Serif", or the system's sans-serif face standing in for it.
    static QFont DialogFont();

    int BaseX() const { return m_baseX; }
    int BaseY() const { return m_baseY; }
    int X(int dlu) const;
    int Y(int dlu) const;
    QRect Rect(int x, int y, int cx, int cy) const;

private:
    int m_baseX = 0;
    int m_baseY = 0;
};
