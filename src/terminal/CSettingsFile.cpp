#include "CSettingsFile.h"

#include "CArchive.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace SettingsFile {

bool IsReadOnly(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return false;
    const auto perms = info.permissions();
    // WriteUser is left out: it answers for the current user, who may be
    // allowed to write anything.
    const auto kAnyWrite =
        QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    return !(perms & kAnyWrite) || !info.isWritable();
}

Result Load(const std::function<void(CArchive&)>& serialize, QString* error)
{
    QFile file(QString::fromLatin1(kFileName));
    if (!file.open(QIODevice::ReadOnly))
        return Result::NotOpened;
    try {
        CArchive ar(&file, CArchive::load, 4096);
        serialize(ar);
        // The file holds the configuration and nothing else.
        if (!ar.AtEnd())
            throw CArchiveException(QStringLiteral("unexpected data after the configuration"));
        ar.Close();
    } catch (const CArchiveException& e) {
        if (error)
            *error = e.Reason();
        return Result::Failed;
    }
    return Result::Ok;
}

Result Save(const std::function<void(CArchive&)>& serialize, QString* error)
{
    const QString name = QString::fromLatin1(kFileName);
    if (IsReadOnly(name))
        return Result::NotOpened;
    const QFileInfo folder(QFileInfo(name).absolutePath());
    if (!folder.isWritable() || !(folder.permissions() & (QFileDevice::WriteOwner |
                                                          QFileDevice::WriteGroup |
                                                          QFileDevice::WriteOther)))
        return Result::NotOpened;

    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly))
        return Result::NotOpened;
    try {
        CArchive ar(&file, CArchive::store, 4096);
        serialize(ar);
        ar.Close();
    } catch (const CArchiveException& e) {
        file.cancelWriting();
        if (error)
            *error = e.Reason();
        return Result::Failed;
    }
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return Result::Failed;
    }
    return Result::Ok;
}

} // namespace SettingsFile
