#include "StringTable.h"

namespace {

struct StringEntry
{
    int id;
    const char* text;
};

constexpr StringEntry kStrings[] = {
    {IDS_VERSION, "1.00"},
};

} // namespace

QString LoadStringResource(int id)
{
    for (const StringEntry& entry : kStrings) {
        if (entry.id == id)
            return QString::fromLatin1(entry.text);
    }
    return QString();
}

QString LoadVersionString()
{
    return LoadStringResource(IDS_VERSION);
}
