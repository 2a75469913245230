#pragma once
// The kinds of port a user can name, by the port name's form: a serial device
// (no "://"), "loop://", "socket://HOST:PORT", "rfc2217://HOST:PORT". What a
// name means, whether it is well formed, how the port describes itself and how
// it is reopened, without the back ends that carry the bytes (those are in the
// port library, CKrCommBackend.h), so that a configuration can be checked and
// stored by a program that never opens a port.
// Plain functions without shared state, any thread.

#include "CKrCommConfig.h"

#include <QString>
#include <QStringList>

// What a kind of port does while it is wanted open but is not: how soon it
// tries again, and whether a serial device that came back under another name
// is looked for.
struct KrReopenPolicy
{
    int nFirstDelayMs = 1000;
    int nMaxDelayMs = 1000; // the delay doubles up to this
    bool bFollowsDevice = false;
    int nOpenLimitMs = 5000; // a pending open is given up after this
};

// The scheme of a port name ("loop", "socket", "rfc2217"; empty for a device
// name without "://"); false when the name names no known kind.
bool KrPortScheme(const QString& portName, QString* pScheme);
// True when some kind of port takes the name, and the name is well formed for
// it; otherwise `why` says what is accepted.
bool KrCheckPortName(const QString& portName, QString* why);
KrReopenPolicy KrReopenPolicyFor(const QString& portName);
// The description of a port with this configuration: "/dev/ttyUSB0
// 115200,8,N,1", or "socket://host:port" where line settings do not apply.
QString KrDescribeConfig(const CKrCommConfig& config);
// The port names that exist without hardware ("loop://"), offered in the
// configuration dialog beside the serial devices found.
QStringList KrFixedPortNames();
// What a fixed port name is, in a few words; empty for other names.
QString KrFixedPortDescription(const QString& name);
// One line per kind of port a user can type: "socket://HOST:PORT  raw TCP
// connection ...", for the configuration dialog.
QStringList KrPortKindHelp();
