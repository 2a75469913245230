#include "LogTool.h"

#include "CPlotParser.h"
#include "CPlotStore.h"
#include "PlotCsv.h"

#include "KrPortEvent.h"
#include "LogIndexReader.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimeZone>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

using LogIndex::Item;
using LogIndex::Record;
using LogIndex::RecordKind;

namespace {

const char kUsage[] =
    "usage: vornterm-log [--frames[=MS]] [--hex] [--csv] [--sent] [--time=STYLE]\n"
    "                    [--from=WHEN] [--to=WHEN] FILE.LOG\n"
    "       vornterm-log --merge [--frames[=MS]] [--hex] [--csv] [--sent] [--time=STYLE]\n"
    "                    [--from=WHEN] [--to=WHEN] [LABEL=]FILE.LOG [LABEL=]FILE.LOG...\n"
    "       vornterm-log --events [--sent] [--time=STYLE] [--from=WHEN] [--to=WHEN] FILE.LOG\n"
    "       vornterm-log --plot-csv [--from=WHEN] [--to=WHEN] FILE.LOG\n"
    "       vornterm-log --verify FILE.LOG\n"
    "       vornterm-log --help\n";

const char kHelp[] =
    "\n"
    "Prints a VornTerm daily log with the time each line arrived, read from the\n"
    "timing index beside it (FILE.IDX). A line's time is that of its first byte.\n"
    "The port's events and lost bytes show between the lines, in parentheses.\n"
    "  --frames[=MS]  one line per frame: bytes that arrived with no gap longer\n"
    "                 than MS milliseconds (20 when not given; gaps under 1.5 ms\n"
    "                 are not kept by the index)\n"
    "  --hex          bytes as [41] [42] ...\n"
    "  --csv          one row per line or frame: time,offset,length,bytes in hex\n"
    "  --sent         the bytes sent to the port too, in time order: sent lines\n"
    "                 marked >, received ones <; --csv adds direction and text\n"
    "  --merge        two or more logs, each with its index, on one timeline,\n"
    "                 each line labelled with its port or the LABEL given\n"
    "  --time=STYLE   local (the default), utc, iso, epoch, since-start, delta\n"
    "  --from=WHEN, --to=WHEN\n"
    "                 only what arrived in that range; WHEN is HH:MM[:SS[.ffffff]]\n"
    "                 on the log's day or YYYY-MM-DD HH:MM[:SS[.ffffff]], local time\n"
    "  --events       the port's events: opened, disconnected, reopened, closed\n"
    "  --plot-csv     the numbers in the log's lines as the plot's CSV: time (UTC,\n"
    "                 ISO 8601, microseconds) and a column per series\n"
    "  --verify       checks the index against the log, reports the first\n"
    "                 disagreement\n"
    "Exit status: 0 done, 1 --verify found a disagreement or no index, 2 wrong\n"
    "arguments or unreadable files, 3 printed but the index is damaged (named on\n"
    "standard error).\n";

const QString kWhenForm = QStringLiteral("HH:MM[:SS[.ffffff]] or YYYY-MM-DD HH:MM[:SS[.ffffff]]");

constexpr qint64 kChunk = 64 * 1024;      // bytes read from the log at a time
constexpr qsizetype kMaxUnit = 64 * 1024; // a longer line or frame is split
constexpr int kMaxDamageShown = 20;       // damaged records named per index
constexpr qint64 kLabelSearch = 1024;     // records searched for the port's name
constexpr int kStatusDamaged = 3;

enum class TimeStyle
{
    Local,
    Utc,
    Iso,
    Epoch,
    SinceStart,
    Delta
};

struct Options
{
    bool bFrames = false;
    qint64 nGapUs = 20000;
    bool bHex = false;
    bool bCsv = false;
    bool bEvents = false;
    bool bVerify = false;
    bool bSent = false;
    bool bMerge = false;
    bool bPlotCsv = false;
    TimeStyle style = TimeStyle::Local;
    QString strFrom, strTo;
    QStringList logs;
};

// "14:03" or "2026-12-06 14:03:10.5" (local time) in microseconds since
// 1970; a time of day falls on `day`. Nothing when the text has neither form.
std::optional<qint64> ParseWhen(const QString& text, const QDate& day)
{
    static const QRegularExpression re(QStringLiteral(
        R"(^(?:(\d{4})-(\d{2})-(\d{2})[ T])?(\d{1,2}):(\d{2})(?::(\d{2})(?:\.(\d{1,6}))?)?$)"));
    const QRegularExpressionMatch m = re.match(text.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    QDate date = day;
    if (!m.captured(1).isEmpty())
        date = QDate(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt());
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    const qint64 nFraction = m.captured(7).leftJustified(6, QLatin1Char('0')).toLongLong();
    return QDateTime(date, time).toMSecsSinceEpoch() * 1000 + nFraction;
}

// What is printed: a line or frame received, bytes sent, or a note between
// them (an event, bytes lost).
struct SUnit
{
    enum class Kind
    {
        Received,
        Sent,
        Note
    };
    Kind kind = Kind::Received;
    std::optional<KrTimeStamp> time;
    // sent in pieces (keys typed one by one, a file): when its last one left,
    // from which the next line's delta counts
    std::optional<KrTimeStamp> end;
    qint64 nOffset = 0;
    qint64 nLength = 0; // received: bytes.size(); sent: the count sent
    QByteArray bytes;   // received: the bytes; sent: what the index keeps
    bool bSummary = false;
    QString strText; // a note's
    bool bEvent = false;
};

// One log with its index, read in small pieces and told as units in the
// order the index gives.
class CLogSource
{
public:
    CLogSource(const Options& opt, const QString& strPath, const QString& strLabel)
        : m_opt(opt), m_strPath(strPath), m_strLabel(strLabel)
    {
    }

    // Opens the log and its index. False with the exit status when the log
    // cannot be read; an index that cannot be used leaves Indexed() false
    // with the reason in WhyUnindexed().
    bool Open(QString& err, int* pStatus);
    // The range of times (microseconds, wall clock) and where to begin.
    void Begin(std::optional<qint64> from, std::optional<qint64> to);
    // The next unit; false at the end, or on a read error (Failed()).
    bool Next(SUnit* pUnit);

    bool Indexed() const { return m_bIndexed; }
    QString WhyUnindexed() const { return m_strWhy; }
    QString IndexName() const { return m_strIndex; }
    bool Failed() const { return m_bFailed; }
    std::optional<KrTimeStamp> Start() const { return m_start; }
    QString Label() const { return m_strLabel; }
    void SetLabel(const QString& strLabel) { m_strLabel = strLabel; }
    // The port the index names first (a log session's start, an opening).
    QString PortName();
    CLogIndexReader& Reader() { return m_reader; }
    QFile& LogFile() { return m_log; }
    qint64 LogSize() const { return m_nLogSize; }
    QStringList Damage() const { return m_pWalk ? m_pWalk->Damage() : QStringList(); }

private:
    // A run of log bytes to feed, with the item that gives their times.
    struct SRange
    {
        qint64 nFrom = 0, nTo = 0;
        std::optional<Item> item;
        bool bGapBefore = false;
    };

    bool Step();
    void OnItem(const Item& item);
    void AddRange(qint64 nFrom, qint64 nTo, const std::optional<Item>& item, bool bGap);
    bool FeedChunk();
    void Feed(qint64 nOffset, const QByteArray& bytes, const std::optional<Item>& item,
              bool bGapBefore);
    void Flush();
    void Emit(SUnit unit) { m_ready.push_back(std::move(unit)); }
    // The first byte of the item from which its time passes the test.
    template <typename Test> qint64 FirstWhere(const Item& item, Test test) const;

    const Options& m_opt;
    QString m_strPath, m_strLabel, m_strIndex, m_strWhy;
    QFile m_log;
    QFile m_index;
    qint64 m_nLogSize = 0;
    bool m_bIndexed = false;
    bool m_bFailed = false;
    CLogIndexReader m_reader;
    std::unique_ptr<LogIndex::CLogIndexWalk> m_pWalk;
    std::optional<KrTimeStamp> m_start;
    std::optional<qint64> m_from, m_to;

    std::deque<SRange> m_ranges;
    std::deque<SUnit> m_ready;
    qint64 m_nPos = 0; // the log bytes printed or passed
    bool m_bStopped = false, m_bWalked = false, m_bDone = false;
    std::optional<Item> m_prev; // the last received item

    // The line or frame being gathered.
    QByteArray m_unit;
    qint64 m_nUnitOffset = 0;
    std::optional<KrTimeStamp> m_unitTime;
};

bool CLogSource::Open(QString& err, int* pStatus)
{
    m_log.setFileName(m_strPath);
    m_strIndex = LogIndex::IndexNameFor(m_strPath);
    m_index.setFileName(m_strIndex);
    // A day with events or sent bytes and nothing received has an index and
    // no log: read as an empty log.
    const bool bNoLog = !m_log.exists() && m_index.exists();
    if (!bNoLog && !m_log.open(QIODevice::ReadOnly)) {
        err += QStringLiteral("Reading '%1': %2\n").arg(m_strPath, m_log.errorString());
        *pStatus = 2;
        return false;
    }
    // The log's size now: what the index says of bytes written after this
    // moment is left for the next run.
    m_nLogSize = bNoLog ? 0 : m_log.size();
    m_bIndexed = m_index.open(QIODevice::ReadOnly);
    m_strWhy = m_bIndexed ? QString() : m_index.errorString();
    if (m_bIndexed && !m_reader.Open(&m_index, m_nLogSize)) {
        m_bIndexed = false;
        m_strWhy = m_reader.ErrorText();
    }
    const QString strLogName = QFileInfo(m_strPath).fileName();
    if (m_bIndexed && m_reader.LogName() != strLogName) {
        m_bIndexed = false;
        m_strWhy = QStringLiteral("it belongs to '%1'").arg(m_reader.LogName());
    }
    if (m_bIndexed) {
        // The first record with a time gives the log's day and the start.
        Record r;
        for (qint64 i = 0; i < m_reader.UsableCount() && !m_start; ++i) {
            if (m_reader.Read(i, &r) && r.kind != RecordKind::Text)
                m_start = r.time;
        }
    }
    return true;
}

QString CLogSource::PortName()
{
    if (!m_bIndexed)
        return QString();
    LogIndex::CLogIndexWalk walk(m_reader);
    Item item;
    while (walk.Next(&item) && walk.Position() <= kLabelSearch) {
        const bool bNames = item.nCode == LogIndex::kLogStartedCode ||
                            item.nCode == quint8(KrPortEventKind::Opened) ||
                            item.nCode == quint8(KrPortEventKind::Reopened) ||
                            item.nCode == quint8(KrPortEventKind::ConfigChanged);
        if (item.kind == Item::Kind::Event && bNames && !item.strText.trimmed().isEmpty())
            return item.strText.trimmed().section(QLatin1Char(' '), 0, 0);
    }
    return QString();
}

void CLogSource::Begin(std::optional<qint64> from, std::optional<qint64> to)
{
    m_from = from;
    m_to = to;
    if (!m_bIndexed) {
        AddRange(0, m_nLogSize, std::nullopt, false);
        m_bWalked = true;
        return;
    }
    qint64 nFirst = 0;
    if (from) {
        // The data record before the first record at the time holds the
        // bytes that reach into it, if any do.
        const qint64 nAt = m_reader.FirstAtOrAfter(*from);
        Record r;
        nFirst = nAt;
        for (qint64 i = nAt - 1; i >= 0 && i >= nAt - 2 * LogIndex::kMaxTextPieces; --i) {
            if (m_reader.Read(i, &r) && r.kind == RecordKind::Data) {
                nFirst = i;
                break;
            }
        }
        if (nFirst < m_reader.UsableCount() && m_reader.Read(nFirst, &r))
            m_nPos = r.nOffset;
    }
    m_pWalk = std::make_unique<LogIndex::CLogIndexWalk>(m_reader, nFirst);
}

bool CLogSource::Next(SUnit* pUnit)
{
    while (m_ready.empty() && !m_bDone && !m_bFailed) {
        if (!Step())
            m_bFailed = true;
    }
    if (m_ready.empty())
        return false;
    *pUnit = std::move(m_ready.front());
    m_ready.pop_front();
    return true;
}

bool CLogSource::Step()
{
    if (!m_ranges.empty())
        return FeedChunk();
    Item item;
    if (!m_bWalked && !m_bStopped && m_pWalk->Next(&item)) {
        OnItem(item);
        return true;
    }
    if (!m_bWalked) {
        m_bWalked = true;
        // What the log holds past the index: written while the index could
        // not be, or just now.
        if (!m_opt.bEvents && !m_bStopped && !m_from && !m_to && m_nPos < m_nLogSize) {
            AddRange(m_nPos, m_nLogSize, std::nullopt, false);
            return true;
        }
    }
    Flush();
    m_bDone = true;
    return true;
}

template <typename Test> qint64 CLogSource::FirstWhere(const Item& item, Test test) const
{
    // Times never go back within an item, so the bytes that pass come last.
    qint64 nLow = item.nOffset, nHigh = item.End();
    while (nLow < nHigh) {
        const qint64 nMid = nLow + (nHigh - nLow) / 2;
        if (test(item.TimeAt(nMid).nWallUs))
            nHigh = nMid;
        else
            nLow = nMid + 1;
    }
    return nLow;
}

void CLogSource::OnItem(const Item& item)
{
    const bool bReceived = item.kind == Item::Kind::Received;
    if (m_to && item.time.nWallUs > *m_to) {
        m_bStopped = true;
        return;
    }
    if (m_from && !bReceived && item.time.nWallUs < *m_from)
        return; // a clock set back: earlier than the range
    switch (item.kind) {
    case Item::Kind::Event: {
        const QString strText = LogIndex::DescribeEvent(item.nCode, item.strText);
        Flush();
        SUnit unit;
        unit.kind = SUnit::Kind::Note;
        unit.time = item.time;
        unit.nOffset = item.nOffset;
        unit.bEvent = true;
        // Between the lines, where it happened; a table has no room for it.
        const bool bOwn = item.nCode >= LogIndex::kLogStartedCode; // the log's, not the port's
        unit.strText =
            m_opt.bEvents ? strText : QString::fromLatin1(bOwn ? "(%1)" : "(port %1)").arg(strText);
        if (m_opt.bEvents || !m_opt.bCsv)
            Emit(unit);
        return;
    }
    case Item::Kind::Sent: {
        if (!m_opt.bSent)
            return;
        Flush();
        SUnit unit;
        unit.kind = SUnit::Kind::Sent;
        unit.time = item.time;
        if (item.last.IsValid())
            unit.end = item.last;
        unit.nOffset = item.nOffset;
        unit.nLength = item.nLength;
        unit.bytes = item.bytes;
        unit.bSummary = item.bSummary;
        Emit(unit);
        return;
    }
    case Item::Kind::Lost:
    case Item::Kind::Received:
        break;
    }
    if (m_opt.bEvents)
        return;
    // Bytes the index says nothing of (logged while it could not be written,
    // or described by a damaged record) have no time; a range of times
    // leaves them out.
    if (item.nOffset > m_nPos && !m_from && !m_to)
        AddRange(m_nPos, item.nOffset, std::nullopt, false);
    m_nPos = std::max(m_nPos, item.nOffset);
    if (!bReceived) {
        Flush();
        if (!m_opt.bCsv) {
            SUnit unit;
            unit.kind = SUnit::Kind::Note;
            unit.time = item.time;
            unit.nOffset = item.nOffset;
            unit.strText = QStringLiteral("(%1 received bytes were lost: never written to the log)")
                               .arg(item.nLength);
            Emit(unit);
        }
        return;
    }
    // A gap before it: from the last read of the bytes before it. Gaps
    // shorter than the index's resolution are not kept: a record that
    // continues the one before has none.
    bool bGap = false;
    if (m_prev && m_prev->End() == item.nOffset)
        bGap = item.time.nMonoUs - m_prev->last.nMonoUs > m_opt.nGapUs;
    m_prev = item;
    qint64 nFrom = item.nOffset, nTo = item.End();
    if (m_from)
        nFrom = FirstWhere(item, [&](qint64 n) { return n >= *m_from; });
    if (m_to) {
        nTo = FirstWhere(item, [&](qint64 n) { return n > *m_to; });
        m_bStopped = nTo < item.End();
    }
    if (nFrom < nTo)
        AddRange(nFrom, nTo, item, bGap);
    m_nPos = std::max(m_nPos, item.End());
}

void CLogSource::AddRange(qint64 nFrom, qint64 nTo, const std::optional<Item>& item, bool bGap)
{
    if (nFrom < nTo)
        m_ranges.push_back(SRange{nFrom, nTo, item, bGap});
}

// Reads the next piece of the first range and feeds it on.
bool CLogSource::FeedChunk()
{
    SRange& range = m_ranges.front();
    if (!m_log.seek(range.nFrom)) {
        m_strWhy = QStringLiteral("Reading '%1': %2\n").arg(m_strPath, m_log.errorString());
        return false;
    }
    const QByteArray bytes = m_log.read(std::min(kChunk, range.nTo - range.nFrom));
    if (bytes.isEmpty()) {
        m_strWhy =
            QStringLiteral("Reading '%1': %2\n")
                .arg(m_strPath, m_log.error() == QFile::NoError ? QStringLiteral("it ended early")
                                                                : m_log.errorString());
        return false;
    }
    Feed(range.nFrom, bytes, range.item, range.bGapBefore);
    range.bGapBefore = false;
    range.nFrom += bytes.size();
    if (range.nFrom >= range.nTo)
        m_ranges.pop_front();
    return true;
}

// Log bytes from nOffset on, their times from the item (none: unknown).
void CLogSource::Feed(qint64 nOffset, const QByteArray& bytes, const std::optional<Item>& item,
                      bool bGapBefore)
{
    if (m_opt.bFrames && !m_unit.isEmpty() &&
        (bGapBefore || item.has_value() != m_unitTime.has_value()))
        Flush();
    for (qsizetype i = 0; i < bytes.size();) {
        if (m_unit.isEmpty()) {
            m_nUnitOffset = nOffset + i;
            m_unitTime =
                item ? std::optional<KrTimeStamp>(item->TimeAt(m_nUnitOffset)) : std::nullopt;
        }
        qsizetype nEnd = bytes.size();
        if (!m_opt.bFrames) {
            const qsizetype nl = bytes.indexOf('\n', i);
            if (nl >= 0)
                nEnd = nl + 1;
        }
        nEnd = std::min(nEnd, i + (kMaxUnit - m_unit.size()));
        m_unit.append(bytes.constData() + i, nEnd - i);
        const bool bLineEnd = !m_opt.bFrames && m_unit.endsWith('\n');
        i = nEnd;
        if (bLineEnd || m_unit.size() >= kMaxUnit)
            Flush();
    }
}

void CLogSource::Flush()
{
    if (m_unit.isEmpty())
        return;
    SUnit unit;
    unit.kind = SUnit::Kind::Received;
    unit.time = m_unitTime;
    unit.nOffset = m_nUnitOffset;
    unit.nLength = m_unit.size();
    unit.bytes = m_unit;
    Emit(unit);
    m_unit.clear();
}

QByteArray Bracketed(const QByteArray& bytes)
{
    QByteArray text;
    for (const char c : bytes)
        text += '[' + QByteArray(1, c).toHex().toUpper() + "] ";
    return text;
}

// Turns units into lines: the time, the port's label (merged logs), the
// direction (with --sent) and the bytes as text, hex or a CSV row.
class CPrinter
{
public:
    CPrinter(QIODevice& out, const Options& options, bool bWall, qint64 nStartUs)
        : m_out(out), m_opt(options), m_bWall(bWall), m_nStartUs(nStartUs)
    {
        if (m_opt.bCsv && !m_opt.bEvents) {
            QByteArray header = "time";
            if (m_opt.bMerge)
                header += ",port";
            if (m_opt.bSent)
                header += ",direction";
            header += ",offset,length,bytes";
            if (m_opt.bSent)
                header += ",text";
            m_out.write(header + '\n');
        }
    }

    void Print(const SUnit& unit, const QString& strLabel)
    {
        QByteArray line = TimeText(unit.time, unit.end).toUtf8();
        if (m_opt.bCsv) {
            if (m_opt.bMerge)
                line += ',' + CsvQuoted(strLabel.toUtf8());
            if (unit.kind == SUnit::Kind::Note) {
                m_out.write(line + ',' + CsvQuoted(unit.strText.toUtf8()) + '\n');
                return;
            }
            if (m_opt.bSent)
                line += unit.kind == SUnit::Kind::Sent ? ",sent" : ",received";
            line += ',' + QByteArray::number(unit.nOffset) + ',' +
                    QByteArray::number(unit.nLength) + ',' + unit.bytes.toHex();
            if (m_opt.bSent)
                line += ',' + CsvQuoted(SentText(unit, false));
            m_out.write(line + '\n');
            return;
        }
        line += "  ";
        if (m_opt.bMerge)
            line += strLabel.toUtf8() + "  ";
        if (m_opt.bSent && !m_opt.bEvents)
            line += unit.kind == SUnit::Kind::Sent       ? "> "
                    : unit.kind == SUnit::Kind::Received ? "< "
                                                         : "  ";
        else if (unit.kind == SUnit::Kind::Sent)
            line += "> ";
        switch (unit.kind) {
        case SUnit::Kind::Note:
            line += unit.strText.toUtf8();
            break;
        case SUnit::Kind::Sent:
            line += SentText(unit, m_opt.bHex);
            break;
        case SUnit::Kind::Received:
            if (m_opt.bHex) {
                line += Bracketed(unit.bytes);
            } else {
                QByteArray text = unit.bytes;
                if (text.endsWith('\n'))
                    text.chop(1);
                if (text.endsWith('\r'))
                    text.chop(1);
                line += text;
            }
            break;
        }
        m_out.write(line + '\n');
    }

private:
    static QByteArray CsvQuoted(QByteArray text) { return '"' + text.replace('"', "\"\"") + '"'; }

    // Sent bytes (or, for a table, any bytes) as escaped text or hex; a
    // summary shows where the bytes not kept were.
    static QByteArray SentText(const SUnit& unit, bool bHex)
    {
        const auto shown = [&](const QByteArray& b) {
            return bHex ? Bracketed(b) : LogIndex::Escaped(b);
        };
        if (!unit.bSummary)
            return shown(unit.bytes);
        const QByteArray gap = QStringLiteral("[... %1 bytes not kept ...]")
                                   .arg(unit.nLength - unit.bytes.size())
                                   .toUtf8();
        const qsizetype nHalf = unit.bytes.size() / 2;
        return shown(unit.bytes.left(nHalf)) + (bHex ? gap + ' ' : ' ' + gap + ' ') +
               shown(unit.bytes.mid(nHalf));
    }

    // The time of a line; with --time=delta the time since the line before
    // it ended (a request sent key by key ends with its last key).
    QString TimeText(const std::optional<KrTimeStamp>& time,
                     const std::optional<KrTimeStamp>& end = std::nullopt)
    {
        if (!time)
            return QStringLiteral("-");
        const qint64 nUs = time->nWallUs;
        const qint64 nMicro = ((nUs % 1000000) + 1000000) % 1000000;
        const QString micro = QStringLiteral("%1").arg(nMicro, 6, 10, QLatin1Char('0'));
        const QDateTime t = QDateTime::fromMSecsSinceEpoch(nUs / 1000 - (nUs % 1000 < 0 ? 1 : 0));
        const auto seconds = [&](qint64 n) {
            const QString sign = n < 0 ? QStringLiteral("-") : QStringLiteral("+");
            n = qAbs(n);
            return sign + QStringLiteral("%1.%2")
                              .arg(n / 1000000)
                              .arg(n % 1000000, 6, 10, QLatin1Char('0'));
        };
        // Merged logs come from programs whose forward-only clocks need not
        // agree: their gaps are measured on the wall clock.
        const qint64 nClock = m_bWall ? time->nWallUs : time->nMonoUs;
        switch (m_opt.style) {
        case TimeStyle::Local:
            return t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.")) + micro;
        case TimeStyle::Utc:
            return t.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.")) + micro +
                   QStringLiteral(" UTC");
        case TimeStyle::Iso: {
            const int nOffset = t.offsetFromUtc();
            const QString zone = QStringLiteral("%1%2:%3")
                                     .arg(nOffset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                                     .arg(qAbs(nOffset) / 3600, 2, 10, QLatin1Char('0'))
                                     .arg(qAbs(nOffset) % 3600 / 60, 2, 10, QLatin1Char('0'));
            return t.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.")) + micro + zone;
        }
        case TimeStyle::Epoch:
            return QStringLiteral("%1.%2").arg((nUs - nMicro) / 1000000).arg(micro);
        case TimeStyle::SinceStart:
            return seconds(nClock - m_nStartUs);
        case TimeStyle::Delta: {
            const qint64 nPrev = m_nPrevUs.value_or(nClock);
            m_nPrevUs = end ? (m_bWall ? end->nWallUs : end->nMonoUs) : nClock;
            return seconds(nClock - nPrev);
        }
        }
        return QString();
    }

    QIODevice& m_out;
    const Options& m_opt;
    bool m_bWall;
    qint64 m_nStartUs;
    std::optional<qint64> m_nPrevUs;
};

int ParseArgs(const QStringList& args, Options& opt, QString& out, QString& err)
{
    for (const QString& arg : args) {
        const QString value = arg.section(QLatin1Char('='), 1);
        const QString name = arg.section(QLatin1Char('='), 0, 0);
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            out = QString::fromLatin1(kUsage) + QString::fromLatin1(kHelp);
            return 0;
        } else if (name == QLatin1String("--frames")) {
            opt.bFrames = true;
            if (arg.contains(QLatin1Char('='))) {
                bool bOk = false;
                const double ms = value.toDouble(&bOk);
                if (!bOk || ms < 0 || ms > 86400000) {
                    err += QStringLiteral("--frames=%1: expected --frames=MS, a gap in "
                                          "milliseconds such as 20 or 2.5\n")
                               .arg(value);
                    return 2;
                }
                opt.nGapUs = qint64(ms * 1000);
            }
        } else if (arg == QLatin1String("--hex")) {
            opt.bHex = true;
        } else if (arg == QLatin1String("--csv")) {
            opt.bCsv = true;
        } else if (arg == QLatin1String("--events")) {
            opt.bEvents = true;
        } else if (arg == QLatin1String("--verify")) {
            opt.bVerify = true;
        } else if (arg == QLatin1String("--sent")) {
            opt.bSent = true;
        } else if (arg == QLatin1String("--merge")) {
            opt.bMerge = true;
        } else if (arg == QLatin1String("--plot-csv")) {
            opt.bPlotCsv = true;
        } else if (name == QLatin1String("--time")) {
            const QStringList styles = {QStringLiteral("local"),       QStringLiteral("utc"),
                                        QStringLiteral("iso"),         QStringLiteral("epoch"),
                                        QStringLiteral("since-start"), QStringLiteral("delta")};
            const qsizetype n = styles.indexOf(value);
            if (n < 0) {
                err += QStringLiteral("--time=%1: expected --time=%2\n")
                           .arg(value, styles.join(QLatin1Char('|')));
                return 2;
            }
            opt.style = TimeStyle(n);
        } else if (name == QLatin1String("--from")) {
            opt.strFrom = value;
        } else if (name == QLatin1String("--to")) {
            opt.strTo = value;
        } else if (arg.startsWith(QLatin1Char('-')) || (!opt.logs.isEmpty() && !opt.bMerge)) {
            err += QStringLiteral("%1: not understood\n").arg(arg) + QString::fromLatin1(kUsage);
            return 2;
        } else {
            opt.logs << arg;
        }
    }
    if (opt.bMerge && (opt.logs.size() < 2 || opt.bVerify)) {
        err += QStringLiteral("--merge: expected two or more logs, [LABEL=]FILE.LOG each, and "
                              "no --verify\n") +
               QString::fromLatin1(kUsage);
        return 2;
    }
    if (opt.bPlotCsv && (opt.bMerge || opt.bVerify || opt.bEvents || opt.bSent || opt.bFrames ||
                         opt.bHex || opt.bCsv)) {
        err += QStringLiteral("--plot-csv: expected one log, with --from and --to at most\n") +
               QString::fromLatin1(kUsage);
        return 2;
    }
    if (opt.logs.isEmpty()) {
        err += QString::fromLatin1(kUsage);
        return 2;
    }
    return -1;
}

// The numbers in the log's lines as the plot exports them: the labels found
// in a first pass make the header, then the rows are written as they come,
// a few thousand at a time, so that memory stays small whatever the log's
// size. The plot's own rules (CPlotParser, CPlotStore) decide every value.
int WritePlotCsv(const Options& opt, std::optional<qint64> from, std::optional<qint64> to,
                 QIODevice& out, QString& err)
{
    constexpr qsizetype kRowsAtOnce = 4096;
    QStringList damage;
    QString strIndex;
    const auto pass = [&](CPlotStore& store, const std::function<bool()>& onRows) {
        CLogSource source(opt, opt.logs.front(), QString());
        int nStatus = 0;
        if (!source.Open(err, &nStatus))
            return false;
        source.Begin(from, to);
        CPlotParser parser(store);
        SUnit unit;
        while (source.Next(&unit)) {
            if (unit.kind != SUnit::Kind::Received)
                continue;
            parser.Feed(unit.bytes.constData(), unit.bytes.size(),
                        PlotTimesAt(unit.time ? unit.time->nWallUs : kPlotNoTime));
            if (store.RowCount() >= kRowsAtOnce && !onRows())
                return false;
        }
        parser.Finish();
        damage = source.Damage();
        strIndex = source.IndexName();
        return onRows();
    };
    CPlotStore labels;
    if (!pass(labels, [] { return true; }))
        return 2;
    QList<QByteArray> columns;
    for (int s = 0; s < labels.SeriesCount(); ++s)
        columns << labels.Label(s);
    QString why;
    CPlotStore rows;
    const auto write = [&] {
        const bool bOk = PlotCsv::WriteRows(rows, columns, out, &why);
        rows.DropRows(rows.RowCount());
        return bOk;
    };
    if (!PlotCsv::WriteHeader(columns, out, &why) || !pass(rows, write)) {
        if (!why.isEmpty())
            err += QStringLiteral("writing the CSV: %1\n").arg(why);
        return 2;
    }
    for (qsizetype i = 0; i < std::min<qsizetype>(damage.size(), kMaxDamageShown); ++i)
        err += QStringLiteral("'%1' is damaged: %2\n").arg(strIndex, damage[i]);
    return damage.isEmpty() ? 0 : kStatusDamaged;
}

int Verify(CLogSource& source, QIODevice& out, QString& err)
{
    const QString strLog = source.LogFile().fileName();
    if (!source.Indexed()) {
        err += QStringLiteral("'%1': %2\n").arg(source.IndexName(), source.WhyUnindexed());
        return 1;
    }
    CLogIndexReader& reader = source.Reader();
    const LogIndex::Verdict v = LogIndex::Verify(reader);
    if (!v.strProblem.isEmpty()) {
        err += QStringLiteral("'%1' disagrees with '%2': %3\n")
                   .arg(source.IndexName(), strLog, v.strProblem);
        return 1;
    }
    QString text = QStringLiteral("'%1' agrees with '%2': %3 records, %4 of %5 bytes with "
                                  "times, %6 events, %7 bytes lost before the log, %8 bytes "
                                  "sent in %9 records\n")
                       .arg(source.IndexName(), strLog)
                       .arg(v.nGood)
                       .arg(v.nTimedBytes)
                       .arg(source.LogSize())
                       .arg(v.nEvents)
                       .arg(v.nLostBytes)
                       .arg(v.nSentBytes)
                       .arg(v.nSent);
    if (reader.Revision() < LogIndex::kRevision)
        text += QStringLiteral("written by a program of the first index revision: one data "
                               "record a read, no sent records\n");
    if (v.bTornTail)
        text += QStringLiteral("a record cut short at its end (%1 bytes) is ignored\n")
                    .arg(reader.TornBytes());
    out.write(text.toUtf8());
    return 0;
}

// "WIRE=a/VornTerm.12-06-26.LOG": the label and the path. A path whose
// name holds '=' is given with its folder ("./a=b.LOG").
std::pair<QString, QString> LabelAndPath(const QString& arg)
{
    const qsizetype nEq = arg.indexOf(QLatin1Char('='));
    if (nEq <= 0 || arg.left(nEq).contains(QLatin1Char('/')) || QFileInfo::exists(arg))
        return {QString(), arg};
    return {arg.left(nEq), arg.mid(nEq + 1)};
}

} // namespace

int RunLogTool(const QStringList& args, QIODevice& out, QString& err)
{
    Options opt;
    QString help;
    const int nParsed = ParseArgs(args, opt, help, err);
    if (!help.isEmpty())
        out.write(help.toUtf8());
    if (nParsed >= 0)
        return nParsed;

    std::vector<std::unique_ptr<CLogSource>> sources;
    for (const QString& arg : opt.logs) {
        const auto [strLabel, strPath] = opt.bMerge ? LabelAndPath(arg) : std::pair{QString(), arg};
        sources.push_back(std::make_unique<CLogSource>(opt, strPath, strLabel));
        int nStatus = 0;
        if (!sources.back()->Open(err, &nStatus))
            return nStatus;
    }
    CLogSource& first = *sources.front();
    if (opt.bVerify)
        return Verify(first, out, err);

    for (const auto& pSource : sources) {
        if (pSource->Indexed())
            continue;
        if (opt.bMerge) {
            err += QStringLiteral("'%1' has no timing index to merge on ('%2': %3)\n")
                       .arg(pSource->LogFile().fileName(), pSource->IndexName(),
                            pSource->WhyUnindexed());
            return 2;
        }
        if (opt.bEvents || opt.bPlotCsv || !opt.strFrom.isEmpty() || !opt.strTo.isEmpty()) {
            err += QStringLiteral("'%1': %2; --events, --plot-csv, --from and --to need it\n")
                       .arg(pSource->IndexName(), pSource->WhyUnindexed());
            return 2;
        }
        err += QStringLiteral("'%1': %2; the log is printed without times\n")
                   .arg(pSource->IndexName(), pSource->WhyUnindexed());
    }
    if (opt.bMerge) {
        // Each log's port, or the label given; a name two logs share gives
        // way to their paths.
        for (const auto& pSource : sources) {
            if (pSource->Label().isEmpty())
                pSource->SetLabel(pSource->PortName());
        }
        for (const auto& pSource : sources) {
            const auto same = [&](const std::unique_ptr<CLogSource>& p) {
                return p->Label() == pSource->Label();
            };
            if (pSource->Label().isEmpty() ||
                std::count_if(sources.begin(), sources.end(), same) > 1)
                pSource->SetLabel(pSource->LogFile().fileName());
        }
    }

    const std::optional<KrTimeStamp> start = first.Start();
    const QDate day =
        start ? QDateTime::fromMSecsSinceEpoch(start->nWallUs / 1000).date() : QDate::currentDate();
    std::optional<qint64> from, to;
    for (const auto& [text, pWhen] : {std::pair{opt.strFrom, &from}, std::pair{opt.strTo, &to}}) {
        if (text.isEmpty())
            continue;
        *pWhen = ParseWhen(text, day);
        if (!*pWhen) {
            err += QStringLiteral("'%1': expected %2\n").arg(text, kWhenForm);
            return 2;
        }
    }

    if (opt.bPlotCsv)
        return WritePlotCsv(opt, from, to, out, err);

    // The start of merged logs is the earliest, on the wall clock.
    qint64 nStartUs = start ? start->nMonoUs : 0;
    if (opt.bMerge) {
        nStartUs = std::numeric_limits<qint64>::max();
        for (const auto& pSource : sources) {
            if (pSource->Start())
                nStartUs = std::min(nStartUs, pSource->Start()->nWallUs);
        }
    }
    CPrinter printer(out, opt, opt.bMerge, nStartUs);
    for (const auto& pSource : sources)
        pSource->Begin(from, to);

    // One log in its index's order; merged logs by the wall clock, each in
    // its own order (a unit without a time goes with the one before it).
    struct SHead
    {
        bool bHave = false;
        SUnit unit;
        qint64 nKey = 0;
    };
    std::vector<SHead> heads(sources.size());
    for (;;) {
        size_t nBest = sources.size();
        for (size_t i = 0; i < sources.size(); ++i) {
            SHead& head = heads[i];
            if (!head.bHave && sources[i]->Next(&head.unit)) {
                head.bHave = true;
                if (head.unit.time)
                    head.nKey = head.unit.time->nWallUs;
            }
            if (head.bHave && (nBest == sources.size() || head.nKey < heads[nBest].nKey))
                nBest = i;
            if (!opt.bMerge)
                break;
        }
        if (nBest == sources.size())
            break;
        printer.Print(heads[nBest].unit, sources[nBest]->Label());
        heads[nBest].bHave = false;
    }

    int nStatus = 0;
    for (const auto& pSource : sources) {
        if (pSource->Failed()) {
            err += pSource->WhyUnindexed();
            return 2;
        }
        const QStringList damage = pSource->Damage();
        for (qsizetype i = 0; i < std::min<qsizetype>(damage.size(), kMaxDamageShown); ++i)
            err += QStringLiteral("'%1' is damaged: %2\n").arg(pSource->IndexName(), damage[i]);
        if (damage.size() > kMaxDamageShown)
            err += QStringLiteral("'%1': %2 more damaged records\n")
                       .arg(pSource->IndexName())
                       .arg(damage.size() - kMaxDamageShown);
        if (!damage.isEmpty())
            nStatus = kStatusDamaged;
    }
    return nStatus;
}

int RunLogTool(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    args.removeFirst();
    QFile out;
    out.open(stdout, QIODevice::WriteOnly);
    QString err;
    const int nStatus = RunLogTool(args, out, err);
    out.close();
    std::fputs(err.toLocal8Bit().constData(), stderr);
    return nStatus;
}
