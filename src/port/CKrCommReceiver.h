#pragma once

// Receives the blocks a port reads. Called on the port's own thread, never on
// the user-interface thread.
class CKrCommReceiver
{
public:
    virtual void OnReceive(const char* pData, int nLength) = 0;
    virtual ~CKrCommReceiver() = default;
};
