#pragma once
// Receives the blocks a port reads. Called on the port's I/O thread, never on
// the user-interface thread, one block at a time and in the order read.

#include "KrTimeStamp.h"

#include <QByteArray>

class CKrCommReceiver
{
public:
    virtual void OnReceive(const char* pData, int nLength) = 0;
    // The same block with its arrival times, as the port delivers it; its
    // bytes are shared, not copied, and may be kept. By default the times are
    // dropped and the bytes handed to the first form.
    virtual void OnReceive(const QByteArray& block, const KrBlockTimes& /*times*/)
    {
        OnReceive(block.constData(), int(block.size()));
    }
    virtual ~CKrCommReceiver() = default;
};
