#include "XferFileIo.h"

#include <QRegularExpression>

#include <cerrno>
#include <io.h>

namespace XferFileIo {

bool SyncToDisk(QFile& file, QString* pError)
{
    if (::_commit(file.handle()) != 0) {
        *pError = qt_error_string(errno);
        return false;
    }
    return true;
}

bool NameAllowed(const QString& strName, QString* pWhy)
{
    for (QChar c : strName) {
        if (QStringLiteral("<>:\"|?*").contains(c)) {
            *pWhy = QStringLiteral("Windows does not allow the character %1 in a file name").arg(c);
            return false;
        }
    }
    if (strName.endsWith(QLatin1Char('.')) || strName.endsWith(QLatin1Char(' '))) {
        *pWhy = QStringLiteral("Windows does not allow a file name to end with a dot or a space");
        return false;
    }
    static const QRegularExpression reserved(
        QStringLiteral("^(CON|PRN|AUX|NUL|COM[1-9]|LPT[1-9])(\\..*)?$"),
        QRegularExpression::CaseInsensitiveOption);
    if (reserved.match(strName).hasMatch()) {
        *pWhy = QStringLiteral("Windows reserves the name for a device");
        return false;
    }
    return true;
}

} // namespace XferFileIo
