#pragma once
// A count as the program shows it, grouped the same whatever the user's
// locale: 1234567 as "1,234,567". Any thread.

#include <QString>

QString Figure(qint64 n);
