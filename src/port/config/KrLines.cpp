#include "KrLines.h"

QString KrLineName(KrLine line)
{
    switch (line) {
    case KrLine::Dtr:
        return QStringLiteral("DTR");
    case KrLine::Rts:
        return QStringLiteral("RTS");
    case KrLine::Cts:
        return QStringLiteral("CTS");
    case KrLine::Dsr:
        return QStringLiteral("DSR");
    case KrLine::Dcd:
        return QStringLiteral("DCD");
    case KrLine::Ri:
        return QStringLiteral("RI");
    case KrLine::Break:
        break;
    }
    return QStringLiteral("Break");
}

QString KrLineTitle(KrLine line)
{
    switch (line) {
    case KrLine::Dtr:
        return QStringLiteral("Data Terminal Ready");
    case KrLine::Rts:
        return QStringLiteral("Request To Send");
    case KrLine::Cts:
        return QStringLiteral("Clear To Send");
    case KrLine::Dsr:
        return QStringLiteral("Data Set Ready");
    case KrLine::Dcd:
        return QStringLiteral("Data Carrier Detect");
    case KrLine::Ri:
        return QStringLiteral("Ring Indicator");
    case KrLine::Break:
        break;
    }
    return QStringLiteral("Break");
}

QString KrLineAtOpenText(KrLineAtOpen at)
{
    switch (at) {
    case KrLineAtOpen::On:
        return QStringLiteral("on");
    case KrLineAtOpen::Off:
        return QStringLiteral("off");
    case KrLineAtOpen::Keep:
        break;
    }
    return QStringLiteral("keep");
}

bool KrParseLineAtOpen(const QString& text, KrLineAtOpen* pAt)
{
    const QString t = text.trimmed().toLower();
    for (KrLineAtOpen at : {KrLineAtOpen::On, KrLineAtOpen::Off, KrLineAtOpen::Keep}) {
        if (t == KrLineAtOpenText(at)) {
            *pAt = at;
            return true;
        }
    }
    return false;
}
