#pragma once
// The address in a network port name: "scheme://HOST:PORT", where HOST is a
// host name, an IPv4 address or an IPv6 address in brackets
// ("rfc2217://[::1]:7001"). Plain functions, any thread.

#include <QString>

struct KrNetAddress
{
    QString strHost; // without brackets
    quint16 nPort = 0;
};

// Parses `portName` of the given scheme ("socket"). False, with a message
// that states the accepted form, when it is not well formed.
bool KrParseNetAddress(const QString& portName, const QString& scheme, KrNetAddress* pAddress,
                       QString* pWhy);
