#include "LogIndexFormat.h"

#include "ByteText.h"

#include "KrPortEvent.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace LogIndex {

namespace {

constexpr int kCheckAt = 14;

quint16 Check(const char* pRecord)
{
    char copy[kRecordSize];
    std::memcpy(copy, pRecord, kRecordSize);
    copy[kCheckAt] = copy[kCheckAt + 1] = 0;
    return qChecksum(QByteArrayView(copy, kRecordSize), Qt::ChecksumIso3309);
}

} // namespace

QString IndexNameFor(const QString& strLogPath)
{
    if (strLogPath.endsWith(QLatin1String(".LOG"), Qt::CaseInsensitive))
        return strLogPath.left(strLogPath.size() - 4) + QStringLiteral(".IDX");
    return strLogPath + QStringLiteral(".IDX");
}

QByteArray EncodeHeader(const QString& strLogName)
{
    QByteArray header(kHeaderSize, '\0');
    char* p = header.data();
    std::memcpy(p, kMagic, sizeof kMagic);
    const QByteArray name = strLogName.toUtf8().left(kMaxNameBytes);
    qToLittleEndian<quint16>(kVersion, p + 8);
    qToLittleEndian<quint16>(kHeaderSize, p + 10);
    qToLittleEndian<quint16>(kRecordSize, p + 12);
    qToLittleEndian<quint16>(quint16(name.size()), p + 14);
    std::memcpy(p + 16, name.constData(), size_t(name.size()));
    qToLittleEndian<quint16>(kRevision, p + 62);
    return header;
}

bool DecodeHeader(const QByteArray& bytes, QString* pLogName, QString* pWhy, quint16* pRevision)
{
    if (bytes.size() < kHeaderSize || std::memcmp(bytes.constData(), kMagic, sizeof kMagic) != 0) {
        *pWhy = QStringLiteral("not a timing index");
        return false;
    }
    const char* p = bytes.constData();
    const quint16 nVersion = qFromLittleEndian<quint16>(p + 8);
    if (nVersion != kVersion) {
        *pWhy = QStringLiteral("index format version %1 is not known (this program reads %2)")
                    .arg(nVersion)
                    .arg(kVersion);
        return false;
    }
    // The first writer allowed names of 48 bytes, and then wrote no revision.
    const quint16 nNameLength = qFromLittleEndian<quint16>(p + 14);
    const quint16 nRevision = nNameLength <= kMaxNameBytes ? qFromLittleEndian<quint16>(p + 62) : 0;
    if (qFromLittleEndian<quint16>(p + 10) != kHeaderSize ||
        qFromLittleEndian<quint16>(p + 12) != kRecordSize || nNameLength > kMaxNameBytes + 2) {
        *pWhy = QStringLiteral("damaged header");
        return false;
    }
    *pLogName = QString::fromUtf8(p + 16, nNameLength);
    if (pRevision)
        *pRevision = nRevision;
    return true;
}

QByteArray EncodeRecord(const Record& r)
{
    QByteArray bytes;
    AppendRecord(bytes, r);
    return bytes;
}

void AppendRecord(QByteArray& to, const Record& r)
{
    const qsizetype nAt = to.size();
    to.resize(nAt + kRecordSize);
    char* p = to.data() + nAt;
    std::memset(p, 0, kRecordSize);
    qToLittleEndian<quint64>(quint64(r.nOffset), p);
    qToLittleEndian<quint32>(r.nLength, p + 8);
    p[12] = char(r.kind);
    p[13] = char(r.nCode);
    if (r.kind == RecordKind::Text) {
        std::memcpy(p + 16, r.text.constData(), size_t(qMin<qsizetype>(r.text.size(), 16)));
    } else {
        qToLittleEndian<qint64>(r.time.nWallUs, p + 16);
        qToLittleEndian<qint64>(r.time.nMonoUs, p + 24);
    }
    qToLittleEndian<quint16>(Check(p), p + kCheckAt);
}

bool DecodeRecord(const char* p, Record* pRecord)
{
    if (qFromLittleEndian<quint16>(p + kCheckAt) != Check(p))
        return false;
    Record r;
    r.nOffset = qint64(qFromLittleEndian<quint64>(p));
    r.nLength = qFromLittleEndian<quint32>(p + 8);
    r.kind = RecordKind(quint8(p[12]));
    r.nCode = quint8(p[13]);
    // No offset a file can reach is this large; it keeps End() in range.
    if (r.nOffset < 0 || r.nOffset > (qint64(1) << 56))
        return false;
    if (r.kind == RecordKind::Text) {
        if (r.nLength > quint32(kTextPerRecord))
            return false;
        r.text = QByteArray(p + 16, qsizetype(r.nLength));
    } else {
        r.time.nWallUs = qFromLittleEndian<qint64>(p + 16);
        r.time.nMonoUs = qFromLittleEndian<qint64>(p + 24);
    }
    *pRecord = r;
    return true;
}

QByteArray EncodeEvent(qint64 nOffset, quint8 nCode, const KrTimeStamp& time,
                       const QString& strText)
{
    Record event;
    event.nOffset = nOffset;
    event.kind = RecordKind::Event;
    event.nCode = nCode;
    event.time = time;
    QByteArray bytes = EncodeRecord(event);
    // Whole characters only: the text is cut before the first one that does
    // not fit.
    QByteArray text;
    for (const QChar* p = strText.constBegin(); p != strText.constEnd();) {
        const int n = p->isHighSurrogate() && p + 1 != strText.constEnd() ? 2 : 1;
        const QByteArray ch = QString(p, n).toUtf8();
        if (text.size() + ch.size() > kTextPerRecord * kMaxTextPieces)
            break;
        text += ch;
        p += n;
    }
    for (int i = 0; i * kTextPerRecord < text.size(); ++i) {
        Record piece;
        piece.nOffset = nOffset;
        piece.kind = RecordKind::Text;
        piece.nCode = quint8(i);
        piece.text = text.mid(i * kTextPerRecord, kTextPerRecord);
        piece.nLength = quint32(piece.text.size());
        bytes += EncodeRecord(piece);
    }
    return bytes;
}

QByteArray SentSample(const QByteArray& bytes)
{
    if (bytes.size() <= kSentWhole)
        return bytes;
    return bytes.left(kSentEdge) + bytes.right(kSentEdge);
}

qint64 SentStored(qint64 nCount)
{
    return nCount <= kSentWhole ? std::max<qint64>(nCount, 0) : 2 * kSentEdge;
}

int SentPieces(qint64 nCount)
{
    return int((SentStored(nCount) + kTextPerRecord - 1) / kTextPerRecord);
}

QByteArray JoinSentSamples(const QByteArray& a, qint64 nA, const QByteArray& b, qint64 nB)
{
    if (nA + nB <= kSentWhole)
        return a + b;
    // A sample begins with its bytes' first ones and ends with their last.
    const QByteArray head = nA >= kSentEdge ? a.left(kSentEdge) : a + b.left(kSentEdge - nA);
    const QByteArray tail = nB >= kSentEdge ? b.right(kSentEdge) : a.right(kSentEdge - nB) + b;
    return head + tail;
}

QByteArray EncodeSent(qint64 nOffset, qint64 nCount, const QByteArray& sample,
                      const KrTimeStamp& time, bool bSeveral)
{
    Record sent;
    sent.nOffset = nOffset;
    sent.nLength = quint32(std::min<qint64>(nCount, 0xFFFFFFFF));
    sent.kind = RecordKind::Sent;
    sent.nCode = quint8((nCount > kSentWhole ? kSummary : 0) | (bSeveral ? kSeveralPieces : 0));
    sent.time = time;
    QByteArray bytes = EncodeRecord(sent);
    // A sample shorter than the count says (a caller's mistake) is padded
    // with zero bytes rather than leaving the pieces short.
    const qsizetype nStored = qsizetype(SentStored(nCount));
    const QByteArray stored = sample.left(nStored).leftJustified(nStored, '\0');
    for (int i = 0; i < SentPieces(nCount); ++i) {
        Record piece;
        piece.nOffset = nOffset;
        piece.kind = RecordKind::Text;
        piece.nCode = quint8(i);
        piece.text = stored.mid(i * kTextPerRecord, kTextPerRecord);
        piece.nLength = quint32(piece.text.size());
        AppendRecord(bytes, piece);
    }
    return bytes;
}

QByteArray Escaped(const QByteArray& bytes)
{
    return KrCString(bytes).toLatin1();
}

QString DescribeEvent(quint8 nCode, const QString& strText)
{
    if (nCode == kLogStartedCode)
        return strText.isEmpty() ? QStringLiteral("log started")
                                 : QStringLiteral("log started: ") + strText;
    return KrPortEvent::Describe(KrPortEventKind(nCode), strText);
}

} // namespace LogIndex
