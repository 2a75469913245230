#include "CKrCommBackend.h"

namespace {

struct KrBackendEntry
{
    const char* scheme; // empty: a device name without "://"
    KrBackendFactory create;
    const char* fixedName;   // offered in the dialog, or null
    const char* description; // of the fixed name, shown beside it
};

const KrBackendEntry kBackends[] = {
    {"", &KrCreateSerialBackend, nullptr, nullptr},
    {"loop", &KrCreateLoopBackend, "loop://", "loopback: what is sent comes back"},
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

bool KrIsKnownPortName(const QString& portName)
{
    return FindEntry(portName) != nullptr;
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
