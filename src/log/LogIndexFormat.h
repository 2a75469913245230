#pragma once
// The timing index beside a day's log ("VornTerm.MM-DD-YY.IDX" beside
// "VornTerm.MM-DD-YY.LOG"): what its bytes mean, both ways. The log holds
// only the bytes received; the index says when they arrived, what happened to
// the port between them and what was sent to it. Manual page:
// vornterm-index(5).
//
// A header of kHeaderSize bytes, then records of kRecordSize bytes, every
// number little-endian:
//
//   header  0  8  magic "VornIdx\x1a"
//           8  2  format version (1)
//          10  2  header size (64)
//          12  2  record size (32)
//          14  2  length of the log's name in bytes (at most 46)
//          16 46  the log's file name, UTF-8, zero-padded
//          62  2  revision: 2 from this writer on, 0 in files of the first
//                 writer (which knew kinds 1 to 4 only)
//
//   record  0  8  log offset: the first byte described (an event, a loss or
//                 a sent record: where it happened, before that byte; a
//                 last-read record: the end of the data record before it)
//           8  4  length: bytes of the log (data); bytes lost (lost); text
//                 bytes in this record (text); bytes sent (sent); bytes of
//                 the data record before it from its last read on (last
//                 read); 0 (event)
//          12  1  kind (RecordKind)
//          13  1  code: DataFlags for data, the event's kind for an event
//                 (KrPortEventKind, or kLogStartedCode), the piece's number
//                 for text, SentFlags for sent, else 0
//          14  2  check: CRC-16 (ISO 3309, as qChecksum) of the record with
//                 these two bytes zero
//          16  8  wall clock, microseconds since 1970 UTC (text: 16 bytes
//          24  8  monotonic clock, microseconds            of text or sent bytes)
//
// Records are in log order and never describe bytes before they are in the
// log. A data record holds one read, or reads that followed each other with
// gaps shorter than kJoinGapUs for at most kMaxSpanUs (see DataFlags); the
// first writer wrote one data record per read, which is a data record with
// no flags. Pure functions, any thread.

#include "KrTimeStamp.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace LogIndex {

constexpr char kMagic[8] = {'V', 'o', 'r', 'n', 'I', 'd', 'x', '\x1a'};
constexpr quint16 kVersion = 1;
constexpr quint16 kRevision = 2;
constexpr int kHeaderSize = 64;
constexpr int kRecordSize = 32;
constexpr int kMaxNameBytes = 46;
constexpr int kTextPerRecord = 16;
constexpr int kMaxTextPieces = 16;

// Reads closer together than this (from one read's time to the next's) are
// kept in one data record: the index's resolution. Gaps of this length or
// more are kept exactly, except in a steady stream (8 reads or more less
// than this apart, over 5 ms or more, and most of its recent reads going on
// from the one before): there a read up to sixteen of its usual intervals
// (and 20 ms) after the one before is no gap when, at the stream's pace, its
// bytes took all but less than this of that time: the line kept busy while
// the reading side was held up (CLogIndexWriter).
constexpr qint64 kJoinGapUs = 1500;
// A data record of several reads covers at most this much time from its
// first read to its last, so that a byte's time found between them is off
// by less than this.
constexpr qint64 kMaxSpanUs = 100000;
// Sent bytes are stored whole up to this many; of more, the first and the
// last kSentEdge bytes are stored with the count.
constexpr int kSentWhole = 128;
constexpr int kSentEdge = 64;
// The event code of a log session's start (the checkbox ticked, a new day's
// file, the program started); its text is the port's description. Codes
// from 128 on are the log's own, below it the port's (KrPortEventKind).
constexpr quint8 kLogStartedCode = 128;

enum class RecordKind : quint8
{
    Data = 1,     // log bytes [offset, offset + length) arrived from the time on
    Event = 2,    // a port event (code) at the time, before the byte at offset
    Lost = 3,     // length received bytes never reached the log, before offset;
                  // the time is that of the first of them
    Text = 4,     // a piece of the preceding event's text or sent bytes
    Sent = 5,     // length bytes went to the port at the time, between the
                  // received bytes before offset and those from it on
    LastRead = 6, // the last part of the record before it came at the time:
                  // a data record's last read (its last length bytes), a
                  // sent record's last piece (length bytes of it)
};

// The code of a data record (0 in files of the first writer: one read).
enum DataFlags : quint8
{
    kContinues = 1, // the data record before it went on into this one with
                    // no gap of kJoinGapUs or more
    kSeveral = 2,   // more than one read; the last one's time is in the
                    // last-read record after it, or, when the next data
                    // record continues it, it came less than kJoinGapUs
                    // before that record's time
    kDataFlags = kContinues | kSeveral,
};

enum SentFlags : quint8
{
    kSummary = 1,       // only the first and the last kSentEdge bytes are stored
    kSeveralPieces = 2, // handed over in pieces, the last one's time in the
                        // last-read record after its text records
    kSentFlags = kSummary | kSeveralPieces,
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
// The log's name from a header (and its revision, 0 for the first writer's);
// false with the reason when the bytes are no header this program can read.
bool DecodeHeader(const QByteArray& bytes, QString* pLogName, QString* pWhy,
                  quint16* pRevision = nullptr);

QByteArray EncodeRecord(const Record& record);
// The same, appended to `to` without a byte array of its own.
void AppendRecord(QByteArray& to, const Record& record);
// False when the bytes are not a whole record with a correct check.
bool DecodeRecord(const char* pBytes, Record* pRecord);
// The records of an event: the event itself and its text, cut at a
// character's boundary where it is longer than the records hold.
QByteArray EncodeEvent(qint64 nOffset, quint8 nCode, const KrTimeStamp& time,
                       const QString& strText);

// What the index keeps of bytes sent: all of them up to kSentWhole, else the
// first and the last kSentEdge.
QByteArray SentSample(const QByteArray& bytes);
// What it keeps of nA bytes (their sample `a`) followed by nB (`b`).
QByteArray JoinSentSamples(const QByteArray& a, qint64 nA, const QByteArray& b, qint64 nB);
// The records of bytes sent (nCount of them, `sample` as SentSample made
// it): the sent record and the stored bytes in text records after it; with
// bSeveral (pieces) the caller adds the last piece's record.
QByteArray EncodeSent(qint64 nOffset, qint64 nCount, const QByteArray& sample,
                      const KrTimeStamp& time, bool bSeveral = false);
// How many of nCount bytes sent are stored, and in how many text records
// after the sent record.
qint64 SentStored(qint64 nCount);
int SentPieces(qint64 nCount);

// Bytes as text on one line, as vornterm-log shows bytes sent ("AT+CSQ\r"):
// KrCString's form (ByteText.h), as the window's arrival times show them.
QByteArray Escaped(const QByteArray& bytes);

// "log started: /dev/ttyUSB0 115200,8,N,1", "disconnected: the device was
// removed": an event's code and text in words.
QString DescribeEvent(quint8 nCode, const QString& strText);

} // namespace LogIndex
