#include "CSettingsFile.h"

#include "CArchive.h"
#include "SettingsFileIo.h"

#include <QBuffer>

namespace SettingsFile {

namespace {

QString FileName()
{
    return QString::fromLatin1(kFileName);
}

Result ToResult(SettingsFileIo::Status status)
{
    switch (status) {
    case SettingsFileIo::Status::Ok:
        return Result::Ok;
    case SettingsFileIo::Status::NotOpened:
        return Result::NotOpened;
    case SettingsFileIo::Status::Failed:
        break;
    }
    return Result::Failed;
}

} // namespace

Result Load(const std::function<void(CArchive&)>& serialize, QString* error)
{
    QByteArray data;
    const Result result = ToResult(SettingsFileIo::Read(FileName(), kMaxFileSize, &data, error));
    return result == Result::Ok ? LoadFrom(data, serialize, error) : result;
}

Result LoadFrom(const QByteArray& data, const std::function<void(CArchive&)>& serialize,
                QString* error)
{
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    try {
        CArchive ar(&buffer, CArchive::load, 4096);
        serialize(ar);
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
    // Checked first as well, so that a file that is not to be touched is
    // passed over before anything is made.
    if (!SettingsFileIo::CanReplace(FileName(), error))
        return Result::NotOpened;
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    try {
        CArchive ar(&buffer, CArchive::store, 4096);
        serialize(ar);
        ar.Close();
    } catch (const CArchiveException& e) {
        if (error)
            *error = e.Reason();
        return Result::Failed;
    }
    return ToResult(SettingsFileIo::Replace(FileName(), buffer.data(), error));
}

bool KeepDamaged(QString* error)
{
    return SettingsFileIo::CanReplace(FileName(), error) &&
           SettingsFileIo::Rename(FileName(), QString::fromLatin1(kDamagedName), error);
}

} // namespace SettingsFile
