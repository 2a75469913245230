#include "CKrCommConfig.h"

#include "CArchive.h"
#include "KrPortKinds.h"

#include <QBuffer>
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
// Version 1: magic, version, port name, baud, data, parity, stop, flow. Bytes
// after it were always left to the caller; "KRLN" there, with DTR and RTS at
// open after it, makes them the lines at open. Nothing tells a damaged tag
// from other bytes, so this version is written only for a configuration with
// both lines on (the behaviour before the fields existed), byte for byte as
// before, which every version of the program reads.
constexpr quint32 kVersionPlain = 1;
// Version 2: version 1's record with the tag always there, and after it a
// check value: CRC-16 (ISO 3309, as qChecksum) of every byte of the record
// before it, little-endian. A damaged or cut record is refused.
constexpr quint32 kVersionChecked = 2;
// "KRLN": DTR and RTS at open follow.
constexpr quint32 kLinesTag = 0x4E4C524B;

bool ValidAtOpen(quint8 n)
{
    return n <= quint8(KrLineAtOpen::Keep);
}

struct SRecord
{
    quint32 nVersion = kVersionPlain;
    QByteArray port; // UTF-8
    qint32 nBaud = 0;
    quint8 nData = 0, nParity = 0, nStop = 0, nFlow = 0;
    quint32 nTag = kLinesTag;
    quint8 nDtr = quint8(KrLineAtOpen::On), nRts = quint8(KrLineAtOpen::On);
};

// The record's bytes as stored, without a version 2 record's check value.
QByteArray RecordBytes(const SRecord& r)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    CArchive ar(&buffer, CArchive::store);
    ar << kMagic << r.nVersion << r.port << r.nBaud << r.nData << r.nParity << r.nStop << r.nFlow;
    if (r.nVersion == kVersionChecked)
        ar << r.nTag << r.nDtr << r.nRts;
    ar.Close();
    return bytes;
}

quint16 Check(const QByteArray& record)
{
    return qChecksum(QByteArrayView(record), Qt::ChecksumIso3309);
}

} // namespace

void SerializeConfig(CArchive& ar, CKrCommConfig& stored)
{
    if (ar.IsStoring()) {
        SRecord r;
        r.port = stored.strPort.toUtf8();
        r.nBaud = stored.nBaud;
        r.nData = quint8(stored.nDataBits);
        r.nParity = quint8(stored.parity);
        r.nStop = quint8(stored.stopBits);
        r.nFlow = quint8(stored.flow);
        r.nDtr = quint8(stored.dtrAtOpen);
        r.nRts = quint8(stored.rtsAtOpen);
        if (stored.dtrAtOpen != KrLineAtOpen::On || stored.rtsAtOpen != KrLineAtOpen::On)
            r.nVersion = kVersionChecked;
        const QByteArray bytes = RecordBytes(r);
        ar.Write(bytes.constData(), int(bytes.size()));
        if (r.nVersion == kVersionChecked) {
            uchar check[2];
            qToLittleEndian<quint16>(Check(bytes), check);
            ar.Write(check, 2);
        }
        return;
    }

    SRecord r;
    quint32 nMagic = 0;
    ar >> nMagic;
    if (nMagic != kMagic)
        throw CArchiveException(QStringLiteral("not a port configuration"));
    ar >> r.nVersion;
    if (r.nVersion != kVersionPlain && r.nVersion != kVersionChecked)
        throw CArchiveException(
            QStringLiteral("port configuration version %1 is not known").arg(r.nVersion));
    ar.ReadString(r.port, CKrCommConfig::kMaxPortNameBytes);
    ar >> r.nBaud >> r.nData >> r.nParity >> r.nStop >> r.nFlow;
    bool bLines = false;
    if (r.nVersion == kVersionChecked) {
        uchar check[2];
        try {
            ar >> r.nTag >> r.nDtr >> r.nRts;
            ar.Read(check, 2);
        } catch (const CArchiveException& e) {
            throw CArchiveException(QStringLiteral("port configuration version 2 is cut short "
                                                   "in its DTR and RTS settings (%1)")
                                        .arg(e.Reason()));
        }
        if (qFromLittleEndian<quint16>(check) != Check(RecordBytes(r)))
            throw CArchiveException(QStringLiteral("port configuration version 2 is damaged: "
                                                   "its check value does not match"));
        if (r.nTag != kLinesTag)
            throw CArchiveException(
                QStringLiteral("port configuration version 2 has no DTR and RTS settings"));
        bLines = true;
    } else {
        // Only the tag makes the bytes after the record the lines at open.
        uchar tag[4];
        if (ar.Peek(tag, 4) == 4 && qFromLittleEndian<quint32>(tag) == kLinesTag) {
            quint32 nTag = 0;
            ar >> nTag >> r.nDtr >> r.nRts;
            bLines = true;
        }
    }
    if (bLines && (!ValidAtOpen(r.nDtr) || !ValidAtOpen(r.nRts)))
        throw CArchiveException(QStringLiteral("DTR or RTS at open: %1 or %2 is not one of "
                                               "on, off, keep")
                                    .arg(r.nDtr)
                                    .arg(r.nRts));

    CKrCommConfig config;
    config.strPort = QString::fromUtf8(r.port);
    if (config.strPort.toUtf8() != r.port)
        throw CArchiveException(QStringLiteral("port name is not valid text"));
    config.nBaud = r.nBaud;
    config.nDataBits = r.nData;
    config.parity = KrParity(r.nParity);
    config.stopBits = KrStopBits(r.nStop);
    config.flow = KrFlow(r.nFlow);
    config.dtrAtOpen = KrLineAtOpen(r.nDtr);
    config.rtsAtOpen = KrLineAtOpen(r.nRts);
    QString why;
    if (!config.IsValid(&why))
        throw CArchiveException(why);
    stored = config;
}
