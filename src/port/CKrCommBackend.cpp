#include "CKrCommBackend.h"

namespace {

using KrUrlCheck = bool (*)(const QString& portName, QString* pWhy);

struct KrBackendEntry
{
    const char* scheme; // empty: a device name without "://"
    KrBackendFactory create;
    KrUrlCheck check;        // null: every name of the scheme is taken
    bool bLineSettings;      // the description shows baud, data, parity, stop
    KrReopenPolicy reopen;   // while wanted open but not open
    const char* fixedName;   // offered in the dialog, or null
    const char* description; // of the fixed name, shown beside it
    const char* form;        // the accepted form, for messages
    const char* help;        // what the kind of port is, for the dialog
};

const KrBackendEntry kBackends[] = {
    {"",
     &KrCreateSerialBackend,
     nullptr,
     true,
     {1000, 1000, true, 5000},
     nullptr,
     nullptr,
     "a device such as /dev/ttyUSB0 or COM1",
     "/dev/ttyUSB0, /dev/serial/by-id/..., COM3: a serial device"},
    {"loop",
     &KrCreateLoopBackend,
     nullptr,
     true,
     {1000, 1000, false, 5000},
     "loop://",
     "loopback: what is sent comes back",
     "loop://",
     "loop://: a loopback, what is sent comes back"},
    {"socket",
     &KrCreateSocketBackend,
     &KrCheckSocketUrl,
     false,
     {1000, 10000, false, 5000},
     nullptr,
     nullptr,
     "socket://HOST:PORT",
     "socket://HOST:PORT: raw TCP to a serial server, bytes untouched"},
    {"rfc2217",
     &KrCreateRfc2217Backend,
     &KrCheckRfc2217Url,
     true,
     {1000, 10000, false, 5000},
     nullptr,
     nullptr,
     "rfc2217://HOST:PORT",
     "rfc2217://HOST:PORT: Telnet Com Port Control (RFC 2217), line settings sent to the server"},
};

const KrBackendEntry* FindEntry(const QString& portName)
{
    const int sep = portName.indexOf(QLatin1String("://"));
    const QString scheme = sep < 0 ? QString() : portName.left(sep).toLower();
    if (sep == 0)
        return nullptr;
    for (const KrBackendEntry& e : kBackends) {
        if (scheme == QLatin1String(e.scheme))
            return &e;
    }
    return nullptr;
}

} // namespace

std::unique_ptr<CKrCommBackend> KrCreateBackend(const QString& portName, CKrCommBackendSink& sink,
                                                QString* why)
{
    const KrBackendEntry* e = FindEntry(portName);
    if (!e) {
        if (why)
            *why = QStringLiteral("unknown port type '%1'").arg(portName);
        return nullptr;
    }
    return e->create(sink);
}

bool KrCheckPortName(const QString& portName, QString* why)
{
    const KrBackendEntry* e = FindEntry(portName);
    if (!e) {
        if (why) {
            QStringList forms;
            for (const KrBackendEntry& k : kBackends)
                forms << QLatin1String(k.form);
            *why = QStringLiteral("port: '%1' is not a serial device or a known port type "
                                  "(accepted: %2)")
                       .arg(portName, forms.join(QStringLiteral(", ")));
        }
        return false;
    }
    QString reason;
    if (e->check && !e->check(portName, &reason)) {
        if (why)
            *why = QStringLiteral("port: ") + reason;
        return false;
    }
    return true;
}

KrReopenPolicy KrReopenPolicyFor(const QString& portName)
{
    const KrBackendEntry* e = FindEntry(portName);
    return e ? e->reopen : KrReopenPolicy{};
}

QString KrDescribeConfig(const CKrCommConfig& config)
{
    const KrBackendEntry* e = FindEntry(config.strPort);
    return !e || e->bLineSettings ? config.Text() : config.strPort;
}

QStringList KrFixedPortNames()
{
    QStringList names;
    for (const KrBackendEntry& e : kBackends) {
        if (e.fixedName)
            names << QLatin1String(e.fixedName);
    }
    return names;
}

QString KrFixedPortDescription(const QString& name)
{
    for (const KrBackendEntry& e : kBackends) {
        if (e.fixedName && name == QLatin1String(e.fixedName))
            return QLatin1String(e.description);
    }
    return QString();
}

QStringList KrPortKindHelp()
{
    QStringList lines;
    for (const KrBackendEntry& e : kBackends)
        lines << QLatin1String(e.help);
    return lines;
}
