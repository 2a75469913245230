#include "KrPortKinds.h"

#include "KrNetAddress.h"

namespace {

using KrUrlCheck = bool (*)(const QString& portName, QString* pWhy);

bool CheckSocketUrl(const QString& portName, QString* pWhy)
{
    return KrParseNetAddress(portName, QStringLiteral("socket"), nullptr, pWhy);
}

bool CheckRfc2217Url(const QString& portName, QString* pWhy)
{
    return KrParseNetAddress(portName, QStringLiteral("rfc2217"), nullptr, pWhy);
}

struct KrPortKind
{
    const char* scheme;      // empty: a device name without "://"
    KrUrlCheck check;        // null: every name of the scheme is taken
    bool bLineSettings;      // the description shows baud, data, parity, stop
    KrReopenPolicy reopen;   // while wanted open but not open
    const char* fixedName;   // offered in the dialog, or null
    const char* description; // of the fixed name, shown beside it
    const char* form;        // the accepted form, for messages
    const char* help;        // what the kind of port is, for the dialog
};

const KrPortKind kKinds[] = {
    {"",
     nullptr,
     true,
     {1000, 1000, true, 5000},
     nullptr,
     nullptr,
     "a device such as /dev/ttyUSB0 or COM1",
     "/dev/ttyUSB0, /dev/serial/by-id/..., COM3: a serial device"},
    {"loop",
     nullptr,
     true,
     {1000, 1000, false, 5000},
     "loop://",
     "loopback: what is sent comes back",
     "loop://",
     "loop://: a loopback, what is sent comes back"},
    {"socket",
     &CheckSocketUrl,
     false,
     {1000, 10000, false, 5000},
     nullptr,
     nullptr,
     "socket://HOST:PORT",
     "socket://HOST:PORT: raw TCP to a serial server, bytes untouched"},
    {"rfc2217",
     &CheckRfc2217Url,
     true,
     {1000, 10000, false, 5000},
     nullptr,
     nullptr,
     "rfc2217://HOST:PORT",
     "rfc2217://HOST:PORT: Telnet Com Port Control (RFC 2217), line settings sent to the server"},
};

const KrPortKind* FindKind(const QString& portName)
{
    const int sep = portName.indexOf(QLatin1String("://"));
    const QString scheme = sep < 0 ? QString() : portName.left(sep).toLower();
    if (sep == 0)
        return nullptr;
    for (const KrPortKind& k : kKinds) {
        if (scheme == QLatin1String(k.scheme))
            return &k;
    }
    return nullptr;
}

} // namespace

bool KrPortScheme(const QString& portName, QString* pScheme)
{
    const KrPortKind* k = FindKind(portName);
    if (k && pScheme)
        *pScheme = QLatin1String(k->scheme);
    return k != nullptr;
}

bool KrCheckPortName(const QString& portName, QString* why)
{
    const KrPortKind* k = FindKind(portName);
    if (!k) {
        if (why) {
            QStringList forms;
            for (const KrPortKind& e : kKinds)
                forms << QLatin1String(e.form);
            *why = QStringLiteral("port: '%1' is not a serial device or a known port type "
                                  "(accepted: %2)")
                       .arg(portName, forms.join(QStringLiteral(", ")));
        }
        return false;
    }
    QString reason;
    if (k->check && !k->check(portName, &reason)) {
        if (why)
            *why = QStringLiteral("port: ") + reason;
        return false;
    }
    return true;
}

KrReopenPolicy KrReopenPolicyFor(const QString& portName)
{
    const KrPortKind* k = FindKind(portName);
    return k ? k->reopen : KrReopenPolicy{};
}

QString KrDescribeConfig(const CKrCommConfig& config)
{
    const KrPortKind* k = FindKind(config.strPort);
    return !k || k->bLineSettings ? config.Text() : config.strPort;
}

QStringList KrFixedPortNames()
{
    QStringList names;
    for (const KrPortKind& k : kKinds) {
        if (k.fixedName)
            names << QLatin1String(k.fixedName);
    }
    return names;
}

QString KrFixedPortDescription(const QString& name)
{
    for (const KrPortKind& k : kKinds) {
        if (k.fixedName && name == QLatin1String(k.fixedName))
            return QLatin1String(k.description);
    }
    return QString();
}

QStringList KrPortKindHelp()
{
    QStringList lines;
    for (const KrPortKind& k : kKinds)
        lines << QLatin1String(k.help);
    return lines;
}
