#include "XferFileIo.h"

#include <cerrno>
#include <unistd.h>

namespace XferFileIo {

bool SyncToDisk(QFile& file, QString* pError)
{
    int rc;
    do {
        rc = ::fsync(file.handle());
    } while (rc != 0 && errno == EINTR);
    if (rc != 0 && errno != EINVAL && errno != EROFS) {
        *pError = qt_error_string(errno);
        return false;
    }
    return true;
}

bool NameAllowed(const QString& strName, QString* pWhy)
{
    // Any name without '/' and NUL is a name here; the rest was checked.
    Q_UNUSED(strName);
    Q_UNUSED(pWhy);
    return true;
}

} // namespace XferFileIo
