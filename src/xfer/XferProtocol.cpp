#include "XferProtocol.h"

#include <QLocale>

#include <array>

namespace {

constexpr std::array<quint16, 256> MakeCrcTable()
{
    std::array<quint16, 256> table{};
    for (int i = 0; i < 256; ++i) {
        quint16 crc = quint16(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? quint16((crc << 1) ^ 0x1021) : quint16(crc << 1);
        table[size_t(i)] = crc;
    }
    return table;
}

constexpr std::array<quint16, 256> kCrcTable = MakeCrcTable();

} // namespace

QString XferProtocolName(XferProtocol eProtocol)
{
    switch (eProtocol) {
    case XferProtocol::Xmodem:
        return QStringLiteral("XMODEM");
    case XferProtocol::XmodemCrc:
        return QStringLiteral("XMODEM-CRC");
    case XferProtocol::Xmodem1k:
        return QStringLiteral("XMODEM-1K");
    case XferProtocol::Ymodem:
        return QStringLiteral("YMODEM");
    }
    return QString();
}

QString XferFigure(qint64 n)
{
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(n);
}

QString XferProgressText(const CXferProgress& progress, qint64 nNowMs)
{
    QString text = progress.strProtocol + QStringLiteral(": ");
    if (!progress.strFile.isEmpty())
        text += progress.strFile + QLatin1Char(' ');
    text += XferFigure(progress.nFileDone);
    if (progress.nFileSize >= 0)
        text += QStringLiteral(" / ") + XferFigure(progress.nFileSize);
    text += QStringLiteral(" bytes");
    const qint64 nElapsedMs = progress.nStartMs < 0 ? 0 : nNowMs - progress.nStartMs;
    if (nElapsedMs > 0) {
        const double dRate = double(progress.nDone) / double(nElapsedMs); // bytes per ms = KB/s
        text += QStringLiteral(", %1 KB/s").arg(dRate, 0, 'f', 1);
    }
    if (progress.nRetries == 1)
        text += QStringLiteral(", 1 retry");
    else if (progress.nRetries > 1)
        text += QStringLiteral(", %1 retries").arg(progress.nRetries);
    return text;
}

quint8 XferChecksum(const char* p, qsizetype n)
{
    quint8 sum = 0;
    for (qsizetype i = 0; i < n; ++i)
        sum = quint8(sum + quint8(p[i]));
    return sum;
}

quint16 XferCrc16(const char* p, qsizetype n)
{
    quint16 crc = 0;
    for (qsizetype i = 0; i < n; ++i)
        crc = quint16((crc << 8) ^ kCrcTable[size_t(((crc >> 8) ^ quint8(p[i])) & 0xFF)]);
    return crc;
}
