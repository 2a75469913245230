#pragma once
// What the receive sink needs of its owner (the Terminal window): where a
// received block and a port event go, and the two states it reads for every
// block. Called on the port's I/O thread; the owner never waits there for
// the user-interface thread.

#include "KrPortEvent.h"
#include "KrTimeStamp.h"

#include <QByteArray>

class CReceiveOwner
{
public:
    // Appends to the receive text buffer, with the bytes' arrival times
    // (none: the echo of what was sent).
    virtual void AppendText(QByteArray text, const KrBlockTimes* pTimes = nullptr) = 0;
    // A port event, shown between the bytes before and after it while the
    // data window shows arrival times.
    virtual void AppendPortEvent(const KrPortEvent& event) = 0;
    virtual bool IsCounterRunning() const = 0;
    virtual bool IsLogInputChecked() const = 0;

protected:
    ~CReceiveOwner() = default;
};
