#pragma once
// Received files stored in one folder, safely:
// - the sender's name passes XferSafeName (a name, never a path) or the file
//   is refused, which ends the transfer;
// - an existing file is never replaced: "firmware.bin" taken makes
//   "firmware (1).bin", and Note() says so;
// - the data goes into a new file beside it, ".firmware.bin.partial-<random>",
//   created only where no file or link is; when the file is complete it gets
//   its time from block 0, is forced to the disk and renamed to its name
//   (never over another file). A file that fails or is cancelled is removed:
//   nothing of it stays under its real name, nor under the partial one;
// - a write error (a full disk, the file-size limit) names the file and the
//   system's reason, and ends the transfer.
// XMODEM sends no name: the file gets the one given to the constructor.
//
// Any single thread (writes can wait for the disk); not thread-safe.

#include "XferFiles.h"

#include <QFile>
#include <QStringList>

class CXferFolderTarget : public CXferTarget
{
public:
    // strFolder: where files go. strName: the name for a file whose sender
    // gives none (XMODEM); it is checked as a sent name is.
    explicit CXferFolderTarget(const QString& strFolder, const QString& strName = QString());
    // A file still open is discarded.
    ~CXferFolderTarget() override;
    CXferFolderTarget(const CXferFolderTarget&) = delete;
    CXferFolderTarget& operator=(const CXferFolderTarget&) = delete;

    bool Begin(const QByteArray& baName, qint64 nSize, qint64 nModified, QString* pError) override;
    bool Write(const char* p, qint64 n, QString* pError) override;
    bool Commit(QString* pError) override;
    void Discard() override;
    QString StoredName() const override { return m_strName; }
    QString Note() const override { return m_strNote; }

    // The paths of the files stored so far, in order.
    QStringList Stored() const { return m_lStored; }

private:
    // The first of "name", "name (1)", ... that no file or link takes.
    bool FreeName(const QString& strWanted, QString* pError);
    bool Taken(const QString& strName) const;
    QString Path(const QString& strName) const;

    QString m_strFolder;
    QString m_strFixedName;
    QString m_strWanted; // the name before a number was added
    QString m_strName;   // the name it is stored under
    QString m_strSent;   // the name as sent, when its folders were dropped
    QString m_strNote;
    qint64 m_nModified = -1;
    QFile m_file; // the partial file while open
    QStringList m_lStored;
};
