#pragma once
// Readers for the Linux system files the facts come from. Pure functions of
// the files' texts, so recorded files can stand in for the live ones.
// Any thread.

#include "SysInfoTexts.h"

#include <QByteArray>

// /proc/meminfo: physical total MemTotal, available MemAvailable (MemFree on
// kernels without it); virtual total CommitLimit, available CommitLimit less
// Committed_AS, never below 0.
MemoryFacts ParseMemInfo(const QByteArray& text);

// /proc/cpuinfo: the value of the first "model name" line as it stands, or
// an empty text when there is none.
QByteArray ParseCpuModelName(const QByteArray& text);

// os-release: the PRETTY_NAME value with its shell quoting removed, or an
// empty text when there is none.
QByteArray ParseOsReleasePrettyName(const QByteArray& text);
