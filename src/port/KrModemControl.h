#pragma once
// The system's modem-control calls on an open serial device: read the lines,
// set DTR and RTS, begin and end a break, and wait for the input lines to
// change. A seam, so that tests drive the serial back end with a fake; the
// system's own is in the _unix and _win files.
//
// Threads: made, used and destroyed on the port's I/O thread. Only the
// waiting for changes runs on a thread of its own, which calls `changed`
// and nothing else; StopWatching returns once it will not call again.

#include "KrLines.h"

#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>

class CKrModemControl
{
public:
    virtual ~CKrModemControl() = default;

    // The lines the system reads back, as KrLines::Set; false with the
    // system's reason when it refuses.
    virtual bool Read(KrLines* pLines, QString* pWhy) = 0;
    // Sets DTR and RTS, those of nLines (bits of KrLine), to their bits in
    // nOn, in one call where the system has one (so that a board that
    // watches both never sees them half set); false with the system's reason
    // when it refuses.
    virtual bool SetOutputs(quint8 nLines, quint8 nOn, QString* pWhy) = 0;
    // Begins or ends the break condition; false with the system's reason.
    virtual bool SetBreak(bool bOn, QString* pWhy) = 0;
    // Waits for changes of CTS, DSR, DCD and RI on a thread of its own and
    // calls `changed` after each. False when the system cannot tell of
    // changes (the owner then reads the lines on a timer). The waiting may
    // also end by itself (the driver cannot wait after all, the device
    // failed): IsWatching() is then false and `changed` is called once more.
    virtual bool StartWatching(std::function<void()> changed) = 0;
    virtual bool IsWatching() const = 0;
    virtual void StopWatching() = 0;
};

// Makes the modem control of an open device from its system handle (a file
// descriptor, or a Windows HANDLE).
using KrModemControlFactory = std::function<std::unique_ptr<CKrModemControl>(qintptr handle)>;

// The system's own.
std::unique_ptr<CKrModemControl> KrSystemModemControl(qintptr handle);
