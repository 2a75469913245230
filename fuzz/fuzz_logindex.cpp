// The timing index's reader on arbitrary bytes beside a log of a size the
// input chooses: it opens or refuses with a reason, never reads past what it
// was given, finds nothing outside the records, and --verify's verdict holds:
// when it finds no fault, every record is usable and within the log, a
// record other than text encodes to the very bytes it was read from, and the
// walk that vornterm-log prints from names no damage. Whatever the bytes,
// the walk gives received bytes within the log, in order, each with a time
// between its record's first and last read, and names only records there
// are. Single-threaded.

#include "FuzzCheck.h"
#include "LogIndexReader.h"

#include <QBuffer>
#include <QtEndian>

#include <algorithm>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize < 4)
        return 0;
    // The log's size from the first four bytes, the index from the rest.
    const qint64 nLogSize = qFromLittleEndian<quint32>(pData);
    QByteArray index(reinterpret_cast<const char*>(pData + 4), qsizetype(nSize - 4));
    QBuffer dev(&index);
    dev.open(QIODevice::ReadOnly);
    CLogIndexReader reader;
    if (!reader.Open(&dev, nLogSize)) {
        FUZZ_CHECK(!reader.ErrorText().isEmpty());
        return 0;
    }
    FUZZ_CHECK(LogIndex::kHeaderSize + reader.RecordCount() * LogIndex::kRecordSize +
                   reader.TornBytes() ==
               index.size());
    const qint64 nUsable = reader.UsableCount();
    FUZZ_CHECK(nUsable >= 0 && nUsable <= reader.RecordCount());
    const qint64 nAt = reader.FirstAtOrAfter(qFromLittleEndian<qint64>(pData) >> 8);
    FUZZ_CHECK(nAt >= 0 && nAt <= nUsable);
    const qint64 nEnding = reader.FirstEndingAfter(nLogSize / 2);
    FUZZ_CHECK(nEnding >= 0 && nEnding <= nUsable);

    // The walk, as vornterm-log makes it.
    LogIndex::CLogIndexWalk walk(reader);
    LogIndex::Item item;
    qint64 nReceivedEnd = 0;
    while (walk.Next(&item)) {
        FUZZ_CHECK(item.nOffset >= 0 && item.End() <= nLogSize);
        if (item.kind != LogIndex::Item::Kind::Received)
            continue;
        FUZZ_CHECK(item.nLength > 0 && item.nOffset >= nReceivedEnd);
        nReceivedEnd = item.End();
        const qint64 nLow = std::min(item.time.nMonoUs, item.last.nMonoUs);
        const qint64 nHigh = std::max(item.time.nMonoUs, item.last.nMonoUs);
        for (const qint64 nAt : {item.nOffset, item.nOffset + item.nLength / 2, item.End() - 1}) {
            const KrTimeStamp t = item.TimeAt(nAt);
            FUZZ_CHECK(t.nMonoUs >= nLow && t.nMonoUs <= nHigh);
        }
    }
    for (const QString& strDamage : walk.Damage()) {
        const qint64 nRecord = strDamage.section(QLatin1Char(' '), 1, 1).toLongLong();
        FUZZ_CHECK(strDamage.startsWith(QLatin1String("record ")) && nRecord >= 0 &&
                   nRecord < reader.RecordCount());
    }

    const LogIndex::Verdict v = LogIndex::Verify(reader);
    FUZZ_CHECK(v.nGood >= 0 && v.nGood <= reader.RecordCount());
    FUZZ_CHECK(v.nTimedBytes <= nLogSize);
    if (!v.strProblem.isEmpty())
        return 0;
    FUZZ_CHECK(v.nGood == reader.RecordCount() && nUsable == v.nGood);
    FUZZ_CHECK(walk.Damage().isEmpty());
    for (qint64 i = 0; i < v.nGood; ++i) {
        LogIndex::Record r;
        FUZZ_CHECK(reader.At(i, &r));
        FUZZ_CHECK(r.nOffset >= 0 && r.End() <= nLogSize);
        if (r.kind != LogIndex::RecordKind::Text) {
            const char* pRecord =
                index.constData() + LogIndex::kHeaderSize + i * LogIndex::kRecordSize;
            FUZZ_CHECK(LogIndex::EncodeRecord(r) == QByteArray(pRecord, LogIndex::kRecordSize));
        }
    }
    return 0;
}
