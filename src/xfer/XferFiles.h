#pragma once
// Where a transfer's file data comes from and goes to. The engines do no I/O
// of their own: a sender reads from a CXferSource, a receiver writes to a
// CXferTarget. Files on disk are CXferFileSource and CXferFolderTarget; tests
// and the fuzz target use memory.
//
// Called on the engine's thread only; implementations need not be
// thread-safe.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// One file to send.
class CXferSource
{
public:
    virtual ~CXferSource() = default;
    // The name YMODEM sends in block 0: a name without folders.
    virtual QString Name() const = 0;
    // The bytes that are sent. The engine sends exactly these many.
    virtual qint64 Size() const = 0;
    // Seconds since 1970-01-01 UTC; -1 when not known.
    virtual qint64 ModifiedTime() const { return -1; }
    // The file's mode as a number in the usual octal form (0100644); -1
    // when not known, and then not sent.
    virtual qint64 Mode() const { return -1; }
    // Reads the next bytes of the file, at most nMax, into p: the count read,
    // 0 at the end, -1 on an error (Error() says why, naming the file).
    virtual qint64 Read(char* p, qint64 nMax) = 0;
    virtual QString Error() const = 0;
};

// Where received files go, one after the other.
class CXferTarget
{
public:
    virtual ~CXferTarget() = default;
    // A file begins. baName: the name from YMODEM's block 0 as it came
    // (empty for XMODEM, which sends none); nSize its size, nModified its
    // time in seconds since 1970 (-1 for either when not sent). False
    // refuses the file, with the reason in *pError: the transfer ends.
    virtual bool Begin(const QByteArray& baName, qint64 nSize, qint64 nModified,
                       QString* pError) = 0;
    // The file's next bytes. False (and the reason in *pError, naming the
    // file and the system's reason) ends the transfer.
    virtual bool Write(const char* p, qint64 n, QString* pError) = 0;
    // The file is complete: it gets its final name and its time. False with
    // the reason when that fails; the file is then not kept.
    virtual bool Commit(QString* pError) = 0;
    // The file is not complete: nothing of it stays under a real name.
    virtual void Discard() = 0;
    // The name the current (or last) file is stored under, for messages.
    virtual QString StoredName() const = 0;
    // Something the user should know about the last committed file, such as
    // "firmware.bin existed: stored as firmware (1).bin"; empty when nothing.
    virtual QString Note() const { return QString(); }
};
