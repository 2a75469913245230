// The Terminal window's settings file: the port's own configuration and
// nothing else.

#include "Afx.h"
#include "CArchive.h"
#include "CSettingsFile.h"
#include "CTerminalDlg.h"

#include <QFileInfo>

namespace {

QString Quoted(const char* name)
{
    return QStringLiteral("'%1'").arg(QString::fromLatin1(name));
}

// The settings file's full path and the system's reason, as the second line
// of a message.
QString PathAndReason(const QString& reason)
{
    QString text = QStringLiteral("'%1'").arg(
        QFileInfo(QString::fromLatin1(SettingsFile::kFileName)).absoluteFilePath());
    if (!reason.isEmpty())
        text += QStringLiteral(": ") + reason;
    return text + QLatin1Char('.');
}

} // namespace

void CTerminalDlg::Serialize(CArchive& ar)
{
    m_port.Serialize(ar);
}

bool CTerminalDlg::LoadSettings()
{
    // A file that fails to load leaves the configuration as it was, whatever
    // part of it was read.
    const CKrCommConfig before = m_port.GetConfig();
    QString reason;
    const SettingsFile::Result result =
        SettingsFile::Load([this](CArchive& ar) { Serialize(ar); }, &reason);
    if (result == SettingsFile::Result::Ok)
        return true;
    m_port.SetConfig(before);
    if (result == SettingsFile::Result::Failed) {
        // Start-up writes a new file at once; what the user had is kept
        // beside it, and the message says where.
        QString keptWhy;
        const QString kept =
            SettingsFile::KeepDamaged(&keptWhy)
                ? QStringLiteral("It was kept as %1; VornTerm starts with the default settings "
                                 "and writes them to a new %2.")
                      .arg(Quoted(SettingsFile::kDamagedName), Quoted(SettingsFile::kFileName))
                : QStringLiteral("It could not be kept as %1 (%2); VornTerm starts with the "
                                 "default settings.")
                      .arg(Quoted(SettingsFile::kDamagedName), keptWhy);
        AfxMessageBox(QStringLiteral("Error reading configuration file.\n") +
                      PathAndReason(reason) + QLatin1Char('\n') + kept);
    }
    return false;
}

bool CTerminalDlg::SaveSettings()
{
    QString reason;
    const SettingsFile::Result result =
        SettingsFile::Save([this](CArchive& ar) { Serialize(ar); }, &reason);
    // A file that could not be opened for writing (read-only, not a regular
    // file) is passed over quietly; a failure part-way is told.
    if (result == SettingsFile::Result::Failed)
        AfxMessageBox(QStringLiteral("Error writing the configuration file.\n") +
                      PathAndReason(reason) +
                      QStringLiteral("\nThe settings were not saved; the file on the disk is "
                                     "unchanged."));
    return result == SettingsFile::Result::Ok;
}
