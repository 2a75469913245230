#include "XferSafeName.h"

#include "XferFileIo.h"

#include <QStringDecoder>

namespace {

constexpr int kMaxNameBytes = 255;

QString Decode(const QByteArray& ba)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(ba);
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(ba);
}

bool IsControl(QChar c)
{
    const ushort u = c.unicode();
    return u < 0x20 || (u >= 0x7F && u < 0xA0);
}

} // namespace

namespace XferSafeName {

QString Shown(const QByteArray& baSent)
{
    QString text = Decode(baSent);
    for (QChar& c : text) {
        if (IsControl(c))
            c = QLatin1Char('?');
    }
    return text;
}

bool Check(const QByteArray& baSent, QString* pName, QString* pWhy)
{
    const QString name = Decode(baSent);
    if (name.isEmpty()) {
        *pWhy = QStringLiteral("the sender gave no name");
        return false;
    }
    for (QChar c : name) {
        if (IsControl(c)) {
            *pWhy = QStringLiteral("it holds control characters");
            return false;
        }
    }
    const bool bDrive = name.size() >= 2 && name.at(1) == QLatin1Char(':') &&
                        name.at(0).unicode() < 0x80 && name.at(0).isLetter();
    if (name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1Char('\\')) || bDrive) {
        *pWhy = QStringLiteral("it is an absolute path");
        return false;
    }
    QString base;
    qsizetype nStart = 0;
    for (qsizetype i = 0; i <= name.size(); ++i) {
        if (i < name.size() && name.at(i) != QLatin1Char('/') && name.at(i) != QLatin1Char('\\'))
            continue;
        const QString part = name.mid(nStart, i - nStart);
        if (part == QLatin1String("..")) {
            *pWhy = QStringLiteral("it climbs out of the folder (..)");
            return false;
        }
        base = part;
        nStart = i + 1;
    }
    if (base.isEmpty() || base == QLatin1String(".")) {
        *pWhy = QStringLiteral("it names a folder, not a file");
        return false;
    }
    if (base.toUtf8().size() > kMaxNameBytes) {
        *pWhy = QStringLiteral("it is longer than the %1 bytes a file name may have")
                    .arg(kMaxNameBytes);
        return false;
    }
    if (!XferFileIo::NameAllowed(base, pWhy))
        return false;
    *pName = base;
    return true;
}

QString Numbered(const QString& strName, int n)
{
    const qsizetype nDot = strName.lastIndexOf(QLatin1Char('.'));
    const QString number = QStringLiteral(" (%1)").arg(n);
    if (nDot <= 0)
        return strName + number;
    return strName.left(nDot) + number + strName.mid(nDot);
}

} // namespace XferSafeName
