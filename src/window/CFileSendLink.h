#pragma once
// What the file send needs of the side that writes to the port: hand a piece
// on (counted, gated and echoed as any send), how much still waits at the
// port, and taking back what did not leave. CTransmitter is the one there is.
//
// SendFilePiece on the file send's thread, PendingFileBytes on any thread,
// the others on the user-interface thread.

#include <QByteArray>

class CFileSendLink
{
public:
    // Writes a piece of the file: as one block when bWhole (the whole file
    // at once, its bytes shared with the port's queue); bFirst marks a
    // file's first bytes, after which the echo gate is set once for the
    // file. Returns the bytes the port took, -1 when it is not open.
    virtual qint64 SendFilePiece(const QByteArray& bytes, bool bWhole, bool bFirst) = 0;
    // Bytes the port has not handed to the device yet; -1 when it is not
    // open.
    virtual qint64 PendingFileBytes() const = 0;
    // Drops the file's bytes waiting at the port (other bytes behind them
    // still go) and takes them off Tx; returns how many.
    virtual qint64 DiscardFileBytes() = 0;
    // The file bytes a close or a loss dropped unsent since the last call,
    // taken off Tx.
    virtual qint64 TakeDroppedFileBytes() = 0;

protected:
    ~CFileSendLink() = default;
};
