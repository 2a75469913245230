#pragma once
// What the serial back end asks of the system beyond QSerialPort: why a
// device would not open, in words a technician can act on, and whether it is
// a pseudo-terminal. The system-dependent parts live in
// KrSerialSystem_<system>.cpp. Called on the port's I/O thread (and by tests on
// theirs); the lock folders are the only state, guarded for any thread.

#include "CKrCommPortStatus.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

enum class KrOpenFailure
{
    NoSuchDevice,
    PermissionDenied,
    InUse,
    NotSerialDevice, // a file, a pipe or a device that is no terminal
    IsFolder,
    Other
};

// The plain-words reason; `systemText` is used for Other.
QString KrOpenFailureText(KrOpenFailure failure, const QString& systemText);
// The same as a port failure, with its code.
KrPortFailure KrOpenPortFailure(KrOpenFailure failure, const QString& systemText);
// A lock file just made by another program that names no process yet.
constexpr qint64 KrLockBeingWritten = -1;
// The device is locked by another program's live process `nPid`, or by a
// lock being written (KrLockBeingWritten).
KrPortFailure KrLockedPortFailure(qint64 nPid);
// A device that failed while open: "the device was removed" when it is gone
// from the system, else "the device stopped working" with the system's text.
KrPortFailure KrLostDeviceFailure(const QString& portName, const QString& systemText);

// The kind of failure a system error code means (errno, or the Windows error).
KrOpenFailure KrOpenFailureFromSystemError(int code);

// The serial driver refused the device with a permission error, which covers
// both "no access" and "someone else has it"; looks at the device and its
// locks to tell which. Other when neither can be shown.
KrOpenFailure KrDiagnosePermissionFailure(const QString& portName);

// What the name is when it is no serial device: IsFolder for a folder,
// NotSerialDevice for a regular file, pipe, socket or a device that is no
// terminal (/dev/null). Other for a terminal, or when it cannot be told (it
// is missing or out of reach). Never blocks.
KrOpenFailure KrDiagnoseDeviceKind(const QString& portName);

// Serial programs mark a device as taken with a UUCP-style lock file
// "LCK..<name>" in a shared lock folder, <name> being the device's path
// below /dev with '/' as '_'. The process of another program that holds a
// lock for the device (under its own name, or the name of the device a link
// leads to), KrLockBeingWritten for a fresh lock that names no process yet,
// or 0. Locks of processes that are gone, and locks that have named no
// process for 10 s, are removed on the way; a lock of this process is left
// alone.
// Where the system has no such locks, 0.
qint64 KrForeignLockHolder(const QString& portName);
// The folders KrForeignLockHolder looks in: /run/lock and /var/lock, unless
// set otherwise; an empty list restores those.
QStringList KrSerialLockDirs();
void KrSetSerialLockDirs(const QStringList& dirs);

// True for a pseudo-terminal (as a stand-in for a device, or a virtual port
// made by another program). It carries bytes, not characters on a wire: the
// system may refuse or ignore data bits, parity and stop bits on it.
bool KrIsPseudoTerminal(const QString& portName);

// True when the device exists now (a device node, or a link to one).
bool KrDeviceExists(const QString& portName);

// Reads, without waiting, what else waits on an open device's handle,
// appending to `data` until it holds nMax bytes or nothing more waits. False
// when the device reports an error (it went away), with the system's text. Where the platform reads
// only through its driver, reads nothing and returns true.
bool KrReadWaiting(qintptr handle, QByteArray& data, qsizetype nMax, QString* pError);

// Writes, without waiting, what an open device takes now of nLength bytes at
// pData; returns how many. 0 when it takes nothing now, and on an error: the
// serial port's own write of the same bytes then meets the error and reports
// it. Where the platform writes only through its driver, writes nothing.
qint64 KrWriteNow(qintptr handle, const char* pData, qint64 nLength);
