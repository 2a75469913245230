#pragma once
// The timing index beside a day's log ("VornTerm.MM-DD-YY.IDX" beside
// "VornTerm.MM-DD-YY.LOG"): what its bytes mean, both ways. The log holds
// only the bytes received; the index says when each run of them arrived and
// what happened to the port between them. Manual page: vornterm-index(5).
//
// A header of kHeaderSize bytes, then records of kRecordSize bytes, every
// number little-endian:
//
//   header  0  8  magic "VornIdx\x1a"
//           8  2  format version (1)
//          10  2  header size (64)
//          12  2  record size (32)
//          14  2  length of the log's name in bytes (at most 48)
//          16 48  the log's file name, UTF-8, zero-padded
//
//   record  0  8  log offset: the first byte described (an event: where
//                 it happened, before that byte)
//           8  4  length: bytes of the log (data); bytes lost (lost);
//                 text bytes in this record (text); 0 (event)
//          12  1  kind (RecordKind)
//          13  1  code: the event's kind (KrPortEventKind) for an event,
//                 the piece's number for text, else 0
//          14  2  check: CRC-16 (ISO 3309, as qChecksum) of the record with
//                 these two bytes zero
//          16  8  wall clock, microseconds since 1970 UTC (text: 16 bytes
//          24  8  monotonic clock, microseconds            of the event's text)
//
// An event's text follows it in text records (up to kMaxTextPieces). Records
// are in log order and never describe bytes before they are in the log.
// Pure functions, any thread.

#include "KrTimeStamp.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace LogIndex {

constexpr char kMagic[8] = {'V', 'o', 'r', 'n', 'I', 'd', 'x', '\x1a'};
constexpr quint16 kVersion = 1;
constexpr int kHeaderSize = 64;
constexpr int kRecordSize = 32;
constexpr int kMaxNameBytes = 48;
constexpr int kTextPerRecord = 16;
constexpr int kMaxTextPieces = 16;

enum class RecordKind : quint8
{
    Data = 1,  // log bytes [offset, offset + length) arrived at the time
    Event = 2, // a port event (code) at the time, before the byte at offset
    Lost = 3,  // length received bytes never reached the log, before offset;
               // the time is that of the first of them
    Text = 4,  // a piece of the preceding event's text
};

struct Record
{
    qint64 nOffset = 0;
    quint32 nLength = 0;
    RecordKind kind = RecordKind::Data;
    quint8 nCode = 0;
    KrTimeStamp time; // not for text
    QByteArray text;  // text only: its bytes in this record

    qint64 End() const { return nOffset + (kind == RecordKind::Data ? qint64(nLength) : 0); }
};

// "VornTerm.12-06-26.IDX" for "VornTerm.12-06-26.LOG" (a path keeps its
// folder): the name never matches the log's glob "VornTerm.*.LOG". A name
// without ".LOG" gets ".IDX" appended.
QString IndexNameFor(const QString& strLogPath);

QByteArray EncodeHeader(const QString& strLogName);
// The log's name from a header; false with the reason when the bytes are no
// header this program can read.
bool DecodeHeader(const QByteArray& bytes, QString* pLogName, QString* pWhy);

QByteArray EncodeRecord(const Record& record);
// The same, appended to `to` without a byte array of its own.
void AppendRecord(QByteArray& to, const Record& record);
// False when the bytes are not a whole record with a correct check.
bool DecodeRecord(const char* pBytes, Record* pRecord);
// The records of an event: the event itself and its text, cut at a
// character's boundary where it is longer than the records hold.
QByteArray EncodeEvent(qint64 nOffset, quint8 nCode, const KrTimeStamp& time,
                       const QString& strText);

} // namespace LogIndex
