#include "Figure.h"

#include <QLocale>

QString Figure(qint64 n)
{
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(n);
}
