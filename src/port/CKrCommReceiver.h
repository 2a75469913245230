#pragma once
// Receives the blocks a port reads. Called on the port's I/O thread, never on
// the user-interface thread, one block at a time and in the order read.

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
    virtual ~CKrCommReceiver() = default;
};
