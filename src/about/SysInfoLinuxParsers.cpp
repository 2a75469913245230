#include "SysInfoLinuxParsers.h"

#include <QList>

namespace {

// "Key:   value unit" lines, as /proc/meminfo and /proc/cpuinfo write them.
bool SplitKeyValue(const QByteArray& line, QByteArray* key, QByteArray* value)
{
    const int colon = line.indexOf(':');
    if (colon < 0)
        return false;
    *key = line.left(colon).trimmed();
    *value = line.mid(colon + 1);
    return true;
}

} // namespace

MemoryFacts ParseMemInfo(const QByteArray& text)
{
    bool bHaveAvailable = false;
    quint64 total = 0, available = 0, memFree = 0, commitLimit = 0, committed = 0;

    for (const QByteArray& line : text.split('\n')) {
        QByteArray key, value;
        if (!SplitKeyValue(line, &key, &value))
            continue;
        const QList<QByteArray> parts = value.simplified().split(' ');
        bool bOk = false;
        quint64 n = parts.value(0).toULongLong(&bOk);
        if (!bOk)
            continue;
        if (parts.value(1) == "kB")
            n *= 1024;
        if (key == "MemTotal") {
            total = n;
        } else if (key == "MemAvailable") {
            available = n;
            bHaveAvailable = true;
        } else if (key == "MemFree") {
            memFree = n;
        } else if (key == "CommitLimit") {
            commitLimit = n;
        } else if (key == "Committed_AS") {
            committed = n;
        }
    }

    MemoryFacts facts;
    facts.totalPhys = total;
    facts.availPhys = bHaveAvailable ? available : memFree;
    facts.totalVirtual = commitLimit;
    facts.availVirtual = commitLimit > committed ? commitLimit - committed : 0;
    return facts;
}

QByteArray ParseCpuModelName(const QByteArray& text)
{
    for (const QByteArray& line : text.split('\n')) {
        QByteArray key, value;
        if (SplitKeyValue(line, &key, &value) && key == "model name")
            return value;
    }
    return QByteArray();
}

QByteArray ParseOsReleasePrettyName(const QByteArray& text)
{
    static const QByteArray kKey = "PRETTY_NAME=";
    QByteArray found;
    bool bFound = false;
    for (QByteArray line : text.split('\n')) {
        line = line.trimmed();
        if (!line.startsWith(kKey))
            continue;
        const QByteArray raw = line.mid(kKey.size());
        // Shell quoting: "..." with backslash escapes, '...' literal, or a
        // bare word. A later assignment overrides an earlier one.
        QByteArray value;
        if (raw.startsWith('"')) {
            for (int i = 1; i < raw.size() && raw[i] != '"'; ++i) {
                if (raw[i] == '\\' && i + 1 < raw.size() &&
                    QByteArray("$\"\\`").contains(raw[i + 1]))
                    ++i;
                value += raw[i];
            }
        } else if (raw.startsWith('\'')) {
            const int end = raw.indexOf('\'', 1);
            value = raw.mid(1, end < 0 ? -1 : end - 1);
        } else {
            value = raw;
        }
        found = value;
        bFound = true;
    }
    return bFound ? found : QByteArray();
}
