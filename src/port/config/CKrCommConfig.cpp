#include "CKrCommConfig.h"

#include "CArchive.h"
#include "KrPortKinds.h"

#include <QStringList>
#include <QtEndian>

#include <limits>

namespace {

const char* const kDataBitsAccepted = "5, 6, 7, 8";
const char* const kParityAccepted = "N, O, E, M, S";
const char* const kStopAccepted = "1, 1.5, 2";
const char* const kFlowAccepted = "none, rtscts, xonxoff";
const char* const kLineAtOpenAccepted = "on, off, keep";

QString NotOneOf(const char* field, const QString& value, const char* accepted)
{
    return QStringLiteral("%1: '%2' is not one of %3")
        .arg(QLatin1String(field), value, QLatin1String(accepted));
}

bool CheckPort(const QString& port, QString* why)
{
    QString reason;
    if (port.isEmpty()) {
        reason = QStringLiteral("port: no port named");
    } else if (port.toUtf8().size() > CKrCommConfig::kMaxPortNameBytes) {
        reason = QStringLiteral("port: the name is longer than %1 bytes")
                     .arg(CKrCommConfig::kMaxPortNameBytes);
    } else {
        for (QChar c : port) {
            if (c.category() == QChar::Other_Control) {
                reason = QStringLiteral("port: '%1' contains a control character").arg(port);
                break;
            }
        }
    }
    if (reason.isEmpty())
        KrCheckPortName(port, &reason);
    if (reason.isEmpty())
        return true;
    if (why)
        *why = reason;
    return false;
}

bool ParseParity(const QString& text, KrParity* p)
{
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("n") || t == QLatin1String("none"))
        *p = KrParity::None;
    else if (t == QLatin1String("o") || t == QLatin1String("odd"))
        *p = KrParity::Odd;
    else if (t == QLatin1String("e") || t == QLatin1String("even"))
        *p = KrParity::Even;
    else if (t == QLatin1String("m") || t == QLatin1String("mark"))
        *p = KrParity::Mark;
    else if (t == QLatin1String("s") || t == QLatin1String("space"))
        *p = KrParity::Space;
    else
        return false;
    return true;
}

bool ParseStop(const QString& text, KrStopBits* s)
{
    const QString t = text.trimmed();
    if (t == QLatin1String("1"))
        *s = KrStopBits::One;
    else if (t == QLatin1String("1.5"))
        *s = KrStopBits::OneAndHalf;
    else if (t == QLatin1String("2"))
        *s = KrStopBits::Two;
    else
        return false;
    return true;
}

bool ParseFlow(const QString& text, KrFlow* f)
{
    QString t = text.trimmed().toLower();
    t.remove(QLatin1Char('/'));
    t.remove(QLatin1Char('-'));
    if (t == QLatin1String("none") || t == QLatin1String("n"))
        *f = KrFlow::None;
    else if (t == QLatin1String("rtscts"))
        *f = KrFlow::RtsCts;
    else if (t == QLatin1String("xonxoff"))
        *f = KrFlow::XonXoff;
    else
        return false;
    return true;
}

} // namespace

QChar ParityLetter(KrParity p)
{
    switch (p) {
    case KrParity::None:
        return QLatin1Char('N');
    case KrParity::Odd:
        return QLatin1Char('O');
    case KrParity::Even:
        return QLatin1Char('E');
    case KrParity::Mark:
        return QLatin1Char('M');
    case KrParity::Space:
        return QLatin1Char('S');
    }
    return QLatin1Char('?');
}

QString StopBitsText(KrStopBits s)
{
    switch (s) {
    case KrStopBits::One:
        return QStringLiteral("1");
    case KrStopBits::OneAndHalf:
        return QStringLiteral("1.5");
    case KrStopBits::Two:
        return QStringLiteral("2");
    }
    return QStringLiteral("?");
}

QString FlowText(KrFlow f)
{
    switch (f) {
    case KrFlow::None:
        return QStringLiteral("none");
    case KrFlow::RtsCts:
        return QStringLiteral("RTS/CTS");
    case KrFlow::XonXoff:
        return QStringLiteral("XON/XOFF");
    }
    return QStringLiteral("?");
}

QString CKrCommConfig::SettingsText() const
{
    QString text = QStringLiteral("%1,%2,%3,%4")
                       .arg(nBaud)
                       .arg(nDataBits)
                       .arg(ParityLetter(parity))
                       .arg(StopBitsText(stopBits));
    if (flow != KrFlow::None)
        text += QLatin1Char(',') + FlowText(flow);
    return text;
}

bool CKrCommConfig::IsValid(QString* why) const
{
    QString reason;
    if (!CheckPort(strPort, &reason)) {
    } else if (nBaud <= 0) {
        reason = QStringLiteral("baud: '%1' is not a positive whole number").arg(nBaud);
    } else if (nDataBits < 5 || nDataBits > 8) {
        reason = NotOneOf("data", QString::number(nDataBits), kDataBitsAccepted);
    } else if (int(parity) < int(KrParity::None) || int(parity) > int(KrParity::Space)) {
        reason = NotOneOf("parity", QString::number(int(parity)), kParityAccepted);
    } else if (int(stopBits) < int(KrStopBits::One) || int(stopBits) > int(KrStopBits::Two)) {
        reason = NotOneOf("stop", QString::number(int(stopBits)), kStopAccepted);
    } else if (int(flow) < int(KrFlow::None) || int(flow) > int(KrFlow::XonXoff)) {
        reason = NotOneOf("flow", QString::number(int(flow)), kFlowAccepted);
    } else if (quint8(dtrAtOpen) > quint8(KrLineAtOpen::Keep)) {
        reason = NotOneOf("dtr", QString::number(int(dtrAtOpen)), kLineAtOpenAccepted);
    } else if (quint8(rtsAtOpen) > quint8(KrLineAtOpen::Keep)) {
        reason = NotOneOf("rts", QString::number(int(rtsAtOpen)), kLineAtOpenAccepted);
    }
    if (reason.isEmpty())
        return true;
    if (why)
        *why = reason;
    return false;
}

bool CKrCommConfig::SetField(const QString& key, const QString& value, QString* error)
{
    QString reason;
    const QString k = key.trimmed().toLower();
    const QString v = value.trimmed();
    if (k == QLatin1String("port")) {
        if (CheckPort(v, &reason))
            strPort = v;
    } else if (k == QLatin1String("baud")) {
        bool ok = false;
        const qlonglong n = v.toLongLong(&ok);
        if (!ok || n <= 0 || v.startsWith(QLatin1Char('+')))
            reason = QStringLiteral("baud: '%1' is not a positive whole number").arg(value);
        else if (n > std::numeric_limits<qint32>::max())
            reason = QStringLiteral("baud: '%1' is too large (at most %2)")
                         .arg(value)
                         .arg(std::numeric_limits<qint32>::max());
        else
            nBaud = qint32(n);
    } else if (k == QLatin1String("data")) {
        bool ok = false;
        const int n = v.toInt(&ok);
        if (!ok || n < 5 || n > 8 || v.size() != 1)
            reason = NotOneOf("data", value, kDataBitsAccepted);
        else
            nDataBits = n;
    } else if (k == QLatin1String("parity")) {
        KrParity p;
        if (ParseParity(v, &p))
            parity = p;
        else
            reason = NotOneOf("parity", value, kParityAccepted);
    } else if (k == QLatin1String("stop")) {
        KrStopBits s;
        if (ParseStop(v, &s))
            stopBits = s;
        else
            reason = NotOneOf("stop", value, kStopAccepted);
    } else if (k == QLatin1String("flow")) {
        KrFlow f;
        if (ParseFlow(v, &f))
            flow = f;
        else
            reason = NotOneOf("flow", value, kFlowAccepted);
    } else if (k == QLatin1String("dtr") || k == QLatin1String("rts")) {
        KrLineAtOpen at;
        if (!KrParseLineAtOpen(v, &at))
            reason =
                NotOneOf(k == QLatin1String("dtr") ? "dtr" : "rts", value, kLineAtOpenAccepted);
        else
            (k == QLatin1String("dtr") ? dtrAtOpen : rtsAtOpen) = at;
    } else {
        reason = QStringLiteral("'%1' is not a setting (accepted: port, baud, data, parity, "
                                "stop, flow, dtr, rts)")
                     .arg(key);
    }
    if (reason.isEmpty())
        return true;
    if (error)
        *error = reason;
    return false;
}

bool CKrCommConfig::operator==(const CKrCommConfig& o) const
{
    return strPort == o.strPort && nBaud == o.nBaud && nDataBits == o.nDataBits &&
           parity == o.parity && stopBits == o.stopBits && flow == o.flow &&
           dtrAtOpen == o.dtrAtOpen && rtsAtOpen == o.rtsAtOpen;
}

namespace {

// "KRPC" in the file.
constexpr quint32 kMagic = 0x4350524B;
constexpr quint32 kVersion = 1;
// "KRLN": DTR and RTS at open follow the line settings under this tag. A
// configuration with both on (the behaviour before the fields existed) is
// stored without them, byte for byte as before.
constexpr quint32 kLinesTag = 0x4E4C524B;

bool ValidAtOpen(quint8 n)
{
    return n <= quint8(KrLineAtOpen::Keep);
}

} // namespace

void SerializeConfig(CArchive& ar, CKrCommConfig& stored)
{
    if (ar.IsStoring()) {
        ar << kMagic << kVersion << stored.strPort.toUtf8() << stored.nBaud
           << quint8(stored.nDataBits) << quint8(stored.parity) << quint8(stored.stopBits)
           << quint8(stored.flow);
        if (stored.dtrAtOpen != KrLineAtOpen::On || stored.rtsAtOpen != KrLineAtOpen::On)
            ar << kLinesTag << quint8(stored.dtrAtOpen) << quint8(stored.rtsAtOpen);
        return;
    }

    quint32 nMagic = 0;
    quint32 nVersion = 0;
    ar >> nMagic;
    if (nMagic != kMagic)
        throw CArchiveException(QStringLiteral("not a port configuration"));
    ar >> nVersion;
    if (nVersion != kVersion)
        throw CArchiveException(
            QStringLiteral("port configuration version %1 is not known").arg(nVersion));
    QByteArray port;
    ar.ReadString(port, CKrCommConfig::kMaxPortNameBytes);
    qint32 nBaud = 0;
    quint8 nData = 0, nParity = 0, nStop = 0, nFlow = 0;
    ar >> nBaud >> nData >> nParity >> nStop >> nFlow;

    CKrCommConfig config;
    config.strPort = QString::fromUtf8(port);
    if (config.strPort.toUtf8() != port)
        throw CArchiveException(QStringLiteral("port name is not valid text"));
    config.nBaud = nBaud;
    config.nDataBits = nData;
    config.parity = KrParity(nParity);
    config.stopBits = KrStopBits(nStop);
    config.flow = KrFlow(nFlow);
    // Bytes after the line settings were always left to the caller; only
    // the tag makes them the lines at open.
    uchar tag[4];
    if (ar.Peek(tag, 4) == 4 && qFromLittleEndian<quint32>(tag) == kLinesTag) {
        quint32 nTag = 0;
        quint8 nDtr = 0, nRts = 0;
        ar >> nTag >> nDtr >> nRts;
        if (!ValidAtOpen(nDtr) || !ValidAtOpen(nRts))
            throw CArchiveException(QStringLiteral("DTR or RTS at open: %1 or %2 is not one of "
                                                   "on, off, keep")
                                        .arg(nDtr)
                                        .arg(nRts));
        config.dtrAtOpen = KrLineAtOpen(nDtr);
        config.rtsAtOpen = KrLineAtOpen(nRts);
    }
    QString why;
    if (!config.IsValid(&why))
        throw CArchiveException(why);
    stored = config;
}
