#pragma once
// What an XMODEM or YMODEM transfer needs of the terminal it runs in: the
// received bytes instead of the data window, a way to send its bytes as the
// terminal sends everything (counted in Tx, never echoed), the status bar's
// progress part and a line of the terminal's own in the data window. The
// Terminal window implements it; the transfer's window side uses nothing
// else of it, and a test can stand in for it.

#include <QByteArray>
#include <QString>

class CXferLink
{
public:
    // Takes the received bytes while a transfer runs.
    class Tap
    {
    public:
        // A block as the port read it; on the port's I/O thread. It must not
        // wait: it hands the bytes on. The daily log still gets every byte.
        virtual void Received(const QByteArray& block) = 0;
        // The user asked to stop (Escape in the Terminal window);
        // user-interface thread.
        virtual void CancelRequested() = 0;

    protected:
        ~Tap() = default;
    };

    // Received blocks go to `pTap` instead of the data window, and typed
    // characters are refused (a beep) so that they cannot break a block;
    // nullptr ends that. Once it returns with nullptr, the old tap is called
    // no more. User-interface thread.
    virtual void SetReceiveTap(Tap* pTap) = 0;
    // Sends protocol bytes: counted in Tx, never echoed, the echo gate left
    // as it is. Returns the bytes the port took (all of them or none), -1
    // when it is not open. The Tx figure shown follows with the next
    // ShowTransferStatus, not with each block. Any thread.
    virtual qint64 SendTransferBytes(const QByteArray& bytes) = 0;
    // Bytes the port has accepted and not yet handed to the device; -1 when
    // it is not open. Any thread.
    virtual qint64 PendingBytes() const = 0;
    // The status bar's progress part, and the terminal's figures (Rx, Tx)
    // as they are now, in one repaint; empty clears the part. User-interface
    // thread.
    virtual void ShowTransferStatus(const QString& text) = 0;
    // A line of the terminal's own in the data window ("YMODEM: received
    // firmware.bin, 412,160 bytes in 37.1 s, 2 retries"), on a line of its
    // own. User-interface thread.
    virtual void AppendNote(const QString& text) = 0;
    // A file is being sent (Send Text File): a transfer waits for it.
    // User-interface thread.
    virtual bool IsSendingFile() const = 0;
    // The folder the terminal keeps its files in (the current directory).
    virtual QString FilesFolder() const = 0;

protected:
    ~CXferLink() = default;
};
