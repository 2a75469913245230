#include "CKrCommBackend.h"

namespace {

struct KrBackendEntry
{
    const char* scheme; // as KrPortScheme gives it
    KrBackendFactory create;
};

const KrBackendEntry kBackends[] = {
    {"", &KrCreateSerialBackend},
    {"loop", &KrCreateLoopBackend},
    {"socket", &KrCreateSocketBackend},
    {"rfc2217", &KrCreateRfc2217Backend},
};

} // namespace

std::unique_ptr<CKrCommBackend> KrCreateBackend(const QString& portName, CKrCommBackendSink& sink,
                                                QString* why)
{
    QString scheme;
    if (KrPortScheme(portName, &scheme)) {
        for (const KrBackendEntry& e : kBackends) {
            if (scheme == QLatin1String(e.scheme))
                return e.create(sink);
        }
    }
    if (why)
        *why = QStringLiteral("unknown port type '%1'").arg(portName);
    return nullptr;
}
