#include "KrNetAddress.h"

#include <QStringList>

namespace {

bool IsHostNameChar(QChar c)
{
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
           (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-') ||
           c == QLatin1Char('.') || c == QLatin1Char('_');
}

bool IsHexGroup(const QString& group)
{
    if (group.isEmpty() || group.size() > 4)
        return false;
    for (QChar c : group) {
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
              (c >= QLatin1Char('a') && c <= QLatin1Char('f')) ||
              (c >= QLatin1Char('A') && c <= QLatin1Char('F'))))
            return false;
    }
    return true;
}

bool IsIpv4(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (const QString& part : parts) {
        if (part.isEmpty() || part.size() > 3)
            return false;
        for (QChar c : part) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
        }
        if (part.toInt() > 255)
            return false;
    }
    return true;
}

// Eight groups of up to four hex digits separated by ':', one run of zero
// groups written "::", the last two groups written as an IPv4 address, and a
// zone after '%' ("fe80::1%eth0"), as the system's own parser takes them.
bool IsIpv6(const QString& text)
{
    QString address = text;
    const int percent = address.indexOf(QLatin1Char('%'));
    if (percent >= 0) {
        const QString zone = address.mid(percent + 1);
        if (zone.isEmpty())
            return false;
        for (QChar c : zone) {
            if (!IsHostNameChar(c))
                return false;
        }
        address = address.left(percent);
    }
    const int gap = address.indexOf(QStringLiteral("::"));
    if (gap >= 0 && address.indexOf(QStringLiteral("::"), gap + 1) >= 0)
        return false;
    const auto groupsOf = [](const QString& part, int* pCount, bool bLast) {
        *pCount = 0;
        if (part.isEmpty())
            return true;
        const QStringList groups = part.split(QLatin1Char(':'));
        for (int i = 0; i < groups.size(); ++i) {
            if (bLast && i == groups.size() - 1 && groups[i].contains(QLatin1Char('.'))) {
                if (!IsIpv4(groups[i]))
                    return false;
                *pCount += 2;
            } else if (IsHexGroup(groups[i])) {
                *pCount += 1;
            } else {
                return false;
            }
        }
        return true;
    };
    int nHead = 0, nTail = 0;
    if (gap < 0)
        return groupsOf(address, &nHead, true) && nHead == 8;
    return groupsOf(address.left(gap), &nHead, false) &&
           groupsOf(address.mid(gap + 2), &nTail, true) && nHead + nTail <= 7;
}

} // namespace

bool KrParseNetAddress(const QString& portName, const QString& scheme, KrNetAddress* pAddress,
                       QString* pWhy)
{
    const QString prefix = scheme + QStringLiteral("://");
    const QString form = prefix + QStringLiteral("HOST:PORT, for example ") + prefix +
                         QStringLiteral("192.168.1.20:4001, ") + prefix +
                         QStringLiteral("lab-server:4001 or ") + prefix +
                         QStringLiteral("[::1]:4001");
    const auto fail = [&](const QString& what) {
        if (pWhy)
            *pWhy = QStringLiteral("'%1' %2 (accepted: %3)").arg(portName, what, form);
        return false;
    };
    if (!portName.startsWith(prefix, Qt::CaseInsensitive))
        return fail(QStringLiteral("does not start with %1").arg(prefix));
    const QString rest = portName.mid(prefix.size());

    QString host;
    QString port;
    if (rest.startsWith(QLatin1Char('['))) {
        const int close = rest.indexOf(QLatin1Char(']'));
        if (close < 0)
            return fail(QStringLiteral("has no ']' after the IPv6 address"));
        host = rest.mid(1, close - 1);
        if (!IsIpv6(host))
            return fail(QStringLiteral("has no IPv6 address in the brackets"));
        if (rest.mid(close + 1, 1) != QLatin1String(":"))
            return fail(QStringLiteral("has no ':PORT' after the address"));
        port = rest.mid(close + 2);
    } else {
        const int colon = rest.lastIndexOf(QLatin1Char(':'));
        if (colon < 0)
            return fail(QStringLiteral("has no ':PORT'"));
        host = rest.left(colon);
        port = rest.mid(colon + 1);
        if (host.contains(QLatin1Char(':')))
            return fail(QStringLiteral("has an IPv6 address outside brackets"));
        if (host.isEmpty())
            return fail(QStringLiteral("names no host"));
        for (QChar c : host) {
            if (!IsHostNameChar(c))
                return fail(QStringLiteral("has '%1' in the host name").arg(c));
        }
    }
    bool bNumber = !port.isEmpty();
    for (QChar c : port)
        bNumber = bNumber && c >= QLatin1Char('0') && c <= QLatin1Char('9');
    const uint nPort = bNumber && port.size() <= 5 ? port.toUInt() : 0;
    if (!bNumber || nPort < 1 || nPort > 65535)
        return fail(QStringLiteral("has no port number from 1 to 65535"));
    if (pAddress) {
        pAddress->strHost = host;
        pAddress->nPort = quint16(nPort);
    }
    return true;
}
