#include "CXferFolderTarget.h"

#include "XferFileIo.h"
#include "XferSafeName.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

namespace {

// How many numbered names are tried before giving up.
constexpr int kMaxNumber = 9999;

// The first bytes of a name, cut at a character's edge, for the partial
// file's name to stay within the system's limit.
QString Shortened(const QString& strName, int nMaxBytes)
{
    QString text = strName;
    while (text.toUtf8().size() > nMaxBytes)
        text.chop(1);
    return text;
}

} // namespace

CXferFolderTarget::CXferFolderTarget(const QString& strFolder, const QString& strName)
    : m_strFolder(QDir::cleanPath(strFolder)), m_strFixedName(strName)
{
}

CXferFolderTarget::~CXferFolderTarget()
{
    Discard();
}

QString CXferFolderTarget::Path(const QString& strName) const
{
    return m_strFolder + QLatin1Char('/') + strName;
}

bool CXferFolderTarget::Taken(const QString& strName) const
{
    // A link counts, even one that points nowhere.
    const QFileInfo info(Path(strName));
    return info.exists() || info.isSymLink();
}

bool CXferFolderTarget::FreeName(const QString& strWanted, QString* pError)
{
    for (int n = 0; n <= kMaxNumber; ++n) {
        const QString name = n == 0 ? strWanted : XferSafeName::Numbered(strWanted, n);
        if (name.toUtf8().size() > 255)
            break;
        if (!Taken(name)) {
            m_strName = name;
            return true;
        }
    }
    *pError = QStringLiteral("cannot store %1 in %2: no free name like it is left")
                  .arg(strWanted, m_strFolder);
    return false;
}

bool CXferFolderTarget::Begin(const QByteArray& baName, qint64 nSize, qint64 nModified,
                              QString* pError)
{
    Q_UNUSED(nSize);
    Discard();
    m_strNote.clear();
    m_strSent.clear();
    m_nModified = nModified;
    const QByteArray sent = baName.isEmpty() ? m_strFixedName.toUtf8() : baName;
    if (sent.isEmpty()) {
        *pError = QStringLiteral("the sender gives no file name: one must be chosen");
        return false;
    }
    QString strWhy;
    if (!XferSafeName::Check(sent, &m_strWanted, &strWhy)) {
        *pError = QStringLiteral("refused the file name \"%1\": %2")
                      .arg(XferSafeName::Shown(sent), strWhy);
        return false;
    }
    if (XferSafeName::Shown(sent) != m_strWanted)
        m_strSent = XferSafeName::Shown(sent);
    const QFileInfo folder(m_strFolder);
    if (!folder.isDir()) {
        *pError = QStringLiteral("cannot store %1 in %2: %3")
                      .arg(m_strWanted, m_strFolder,
                           folder.exists() ? QStringLiteral("it is not a folder")
                                           : QStringLiteral("the folder does not exist"));
        return false;
    }
    if (!FreeName(m_strWanted, pError))
        return false;

    const QString partial =
        QLatin1Char('.') + Shortened(m_strName, 200) + QStringLiteral(".partial-");
    for (int nTry = 0; nTry < 16; ++nTry) {
        m_file.setFileName(
            Path(partial + QString::number(QRandomGenerator::global()->generate(), 16)));
        // NewOnly: created here or not at all, never through a link.
        if (m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
            return true;
        if (!QFileInfo(m_file.fileName()).isSymLink() && !QFileInfo::exists(m_file.fileName()))
            break;
    }
    *pError = QStringLiteral("cannot create %1 in %2: %3")
                  .arg(m_strName, m_strFolder, m_file.errorString());
    // Not ours: nothing to remove.
    m_file.setFileName(QString());
    return false;
}

bool CXferFolderTarget::Write(const char* p, qint64 n, QString* pError)
{
    if (!m_file.isOpen()) {
        *pError = QStringLiteral("no file is open to receive into");
        return false;
    }
    if (m_file.write(p, n) != n) {
        *pError = QStringLiteral("cannot write %1 in %2: %3")
                      .arg(m_strName, m_strFolder, m_file.errorString());
        return false;
    }
    return true;
}

bool CXferFolderTarget::Commit(QString* pError)
{
    if (!m_file.isOpen()) {
        *pError = QStringLiteral("no file is open to store");
        return false;
    }
    QString strTimeNote;
    if (m_nModified >= 0 && !m_file.setFileTime(QDateTime::fromSecsSinceEpoch(m_nModified, Qt::UTC),
                                                QFileDevice::FileModificationTime))
        strTimeNote = QStringLiteral("the time of %1 could not be set: %2")
                          .arg(m_strName, m_file.errorString());
    QString strReason;
    if (!XferFileIo::SyncToDisk(m_file, &strReason)) {
        *pError =
            QStringLiteral("cannot write %1 in %2: %3").arg(m_strName, m_strFolder, strReason);
        Discard();
        return false;
    }
    m_file.close();
    if (m_file.error() != QFileDevice::NoError) {
        *pError = QStringLiteral("cannot write %1 in %2: %3")
                      .arg(m_strName, m_strFolder, m_file.errorString());
        Discard();
        return false;
    }
    // The rename never replaces a file: a name taken meanwhile makes the next
    // number.
    QFile partial(m_file.fileName());
    bool bStored = false;
    for (int nTry = 0; nTry < 16 && !bStored; ++nTry) {
        if (Taken(m_strName) && !FreeName(m_strWanted, pError)) {
            Discard();
            return false;
        }
        bStored = partial.rename(Path(m_strName));
        if (!bStored && !Taken(m_strName))
            break;
    }
    if (!bStored) {
        *pError = QStringLiteral("cannot store %1 in %2: %3")
                      .arg(m_strName, m_strFolder, partial.errorString());
        Discard();
        return false;
    }
    m_file.setFileName(QString());
    m_lStored.append(Path(m_strName));
    QStringList notes;
    if (!m_strSent.isEmpty())
        notes.append(QStringLiteral("%1 was sent as %2").arg(m_strWanted, m_strSent));
    if (m_strName != m_strWanted)
        notes.append(QStringLiteral("%1 existed: stored as %2").arg(m_strWanted, m_strName));
    if (!strTimeNote.isEmpty())
        notes.append(strTimeNote);
    m_strNote = notes.join(QStringLiteral("; "));
    return true;
}

void CXferFolderTarget::Discard()
{
    // The partial file's name is kept until it is stored or removed.
    if (m_file.fileName().isEmpty())
        return;
    m_file.close();
    m_file.remove();
    m_file.setFileName(QString());
}
