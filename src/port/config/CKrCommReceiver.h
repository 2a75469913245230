#pragma once
// Receives the blocks a port reads. Called on the port's I/O thread, never on
// the user-interface thread, one block at a time and in the order read.

#include "KrTimeStamp.h"

#include <QByteArray>

class CKrCommReceiver
{
public:
    virtual void OnReceive(const char* pData, int nLength) = 0;
    // The same block as bytes the receiver may keep (they are shared, not
    // copied); by default handed to OnReceive.
    virtual void OnReceiveBlock(const QByteArray& block)
    {
        OnReceive(block.constData(), int(block.size()));
    }
    // The same block with its arrival times, as the port delivers it; by
    // default the times are dropped and the block handed to OnReceiveBlock.
    virtual void OnReceiveTimed(const QByteArray& block, const KrBlockTimes& /*times*/)
    {
        OnReceiveBlock(block);
    }
    virtual ~CKrCommReceiver() = default;
};
