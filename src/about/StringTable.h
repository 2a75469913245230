#pragma once
// The program's string table.
// Any thread.

#include <QString>

constexpr int IDS_VERSION = 1;

// The string with the given id, or an empty string when there is none.
QString LoadStringResource(int id);

// String 1, the version text shown in the About box.
QString LoadVersionString();
