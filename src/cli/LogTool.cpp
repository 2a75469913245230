#include "LogTool.h"

#include "KrPortEvent.h"
#include "LogIndexReader.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimeZone>

#include <cstdio>
#include <cstring>
#include <optional>

using LogIndex::Record;
using LogIndex::RecordKind;

namespace {

const char kUsage[] =
    "usage: vornterm-log [--frames[=MS]] [--hex] [--csv] [--time=STYLE]\n"
    "                    [--from=WHEN] [--to=WHEN] FILE.LOG\n"
    "       vornterm-log --events [--time=STYLE] [--from=WHEN] [--to=WHEN] FILE.LOG\n"
    "       vornterm-log --verify FILE.LOG\n"
    "       vornterm-log --help\n";

const char kHelp[] =
    "\n"
    "Prints a VornTerm daily log with the time each line arrived, read from the\n"
    "timing index beside it (FILE.IDX). A line's time is that of its first byte.\n"
    "The port's events and lost bytes show between the lines, in parentheses.\n"
    "  --frames[=MS]  one line per frame: bytes that arrived with no gap longer\n"
    "                 than MS milliseconds (20 when not given)\n"
    "  --hex          bytes as [41] [42] ...\n"
    "  --csv          one row per line or frame: time,offset,length,bytes in hex\n"
    "  --time=STYLE   local (the default), utc, iso, epoch, since-start, delta\n"
    "  --from=WHEN, --to=WHEN\n"
    "                 only what arrived in that range; WHEN is HH:MM[:SS[.ffffff]]\n"
    "                 on the log's day or YYYY-MM-DD HH:MM[:SS[.ffffff]], local time\n"
    "  --events       the port's events: opened, disconnected, reopened, closed\n"
    "  --verify       checks the index against the log, reports the first\n"
    "                 disagreement\n";

const QString kWhenForm = QStringLiteral("HH:MM[:SS[.ffffff]] or YYYY-MM-DD HH:MM[:SS[.ffffff]]");

constexpr qint64 kChunk = 64 * 1024;      // bytes read from the log at a time
constexpr qsizetype kMaxUnit = 64 * 1024; // a longer line or frame is split

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
    TimeStyle style = TimeStyle::Local;
    QString strFrom, strTo;
    QString strLog;
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

class CPrinter
{
public:
    CPrinter(QIODevice& out, const Options& options, qint64 nStartMono)
        : m_out(out), m_opt(options), m_nStartMono(nStartMono)
    {
        if (m_opt.bCsv && !m_opt.bEvents)
            m_out.write("time,offset,length,bytes\n");
    }

    // Log bytes from nOffset on, all with one arrival time (none: unknown).
    void Feed(qint64 nOffset, const QByteArray& bytes, const std::optional<KrTimeStamp>& time)
    {
        if (m_opt.bFrames) {
            const bool bGap =
                !m_unit.isEmpty() && (time.has_value() != m_last.has_value() ||
                                      (time && time->nMonoUs - m_last->nMonoUs > m_opt.nGapUs));
            if (bGap)
                Flush();
            m_last = time;
        }
        for (qsizetype i = 0; i < bytes.size();) {
            if (m_unit.isEmpty()) {
                m_nUnitOffset = nOffset + i;
                m_unitTime = time;
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

    void Note(const std::optional<KrTimeStamp>& time, const QString& text)
    {
        Flush();
        if (m_opt.bCsv)
            return;
        m_out.write((TimeText(time) + QStringLiteral("  ") + text + QLatin1Char('\n')).toUtf8());
    }

    void Event(const KrTimeStamp& time, const QString& text)
    {
        if (m_opt.bCsv)
            m_out.write(
                (TimeText(time) + QLatin1Char(',') + CsvQuoted(text) + QLatin1Char('\n')).toUtf8());
        else
            m_out.write(
                (TimeText(time) + QStringLiteral("  ") + text + QLatin1Char('\n')).toUtf8());
    }

    void Flush()
    {
        if (m_unit.isEmpty())
            return;
        QByteArray line = TimeText(m_unitTime).toUtf8();
        if (m_opt.bCsv) {
            line += ',' + QByteArray::number(m_nUnitOffset) + ',' +
                    QByteArray::number(m_unit.size()) + ',' + m_unit.toHex() + '\n';
        } else if (m_opt.bHex) {
            line += "  ";
            for (const char c : m_unit)
                line += '[' + QByteArray(1, c).toHex().toUpper() + "] ";
            line += '\n';
        } else {
            QByteArray text = m_unit;
            if (text.endsWith('\n'))
                text.chop(1);
            if (text.endsWith('\r'))
                text.chop(1);
            line += "  " + text + '\n';
        }
        m_out.write(line);
        m_unit.clear();
    }

private:
    static QString CsvQuoted(QString text)
    {
        return QLatin1Char('"') + text.replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
               QLatin1Char('"');
    }

    QString TimeText(const std::optional<KrTimeStamp>& time)
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
            return seconds(time->nMonoUs - m_nStartMono);
        case TimeStyle::Delta: {
            const qint64 nPrev = m_nPrevMono.value_or(time->nMonoUs);
            m_nPrevMono = time->nMonoUs;
            return seconds(time->nMonoUs - nPrev);
        }
        }
        return QString();
    }

    QIODevice& m_out;
    const Options& m_opt;
    qint64 m_nStartMono;
    std::optional<qint64> m_nPrevMono;
    QByteArray m_unit;
    qint64 m_nUnitOffset = 0;
    std::optional<KrTimeStamp> m_unitTime;
    std::optional<KrTimeStamp> m_last; // the time of the last bytes fed (frames)
};

// Reads log bytes [nFrom, nTo) in pieces and feeds them on.
bool FeedRange(QFile& log, qint64 nFrom, qint64 nTo, const std::optional<KrTimeStamp>& time,
               CPrinter& printer, QString& err)
{
    for (qint64 nPos = nFrom; nPos < nTo;) {
        if (!log.seek(nPos)) {
            err += QStringLiteral("Reading '%1': %2\n").arg(log.fileName(), log.errorString());
            return false;
        }
        const QByteArray bytes = log.read(std::min(kChunk, nTo - nPos));
        if (bytes.isEmpty()) {
            err += QStringLiteral("Reading '%1': %2\n")
                       .arg(log.fileName(), log.error() == QFile::NoError
                                                ? QStringLiteral("it ended early")
                                                : log.errorString());
            return false;
        }
        printer.Feed(nPos, bytes, time);
        nPos += bytes.size();
    }
    return true;
}

// The event at record i, its text gathered from the records after it.
QString EventText(CLogIndexReader& reader, qint64 i, const Record& event)
{
    QByteArray text;
    Record piece;
    for (qint64 j = i + 1;
         j < reader.UsableCount() && reader.At(j, &piece) && piece.kind == RecordKind::Text; ++j)
        text += piece.text;
    return KrPortEvent::Describe(KrPortEventKind(event.nCode), QString::fromUtf8(text));
}

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
        } else if (arg.startsWith(QLatin1Char('-')) || !opt.strLog.isEmpty()) {
            err += QStringLiteral("%1: not understood\n").arg(arg) + QString::fromLatin1(kUsage);
            return 2;
        } else {
            opt.strLog = arg;
        }
    }
    if (opt.strLog.isEmpty()) {
        err += QString::fromLatin1(kUsage);
        return 2;
    }
    return -1;
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

    QFile log(opt.strLog);
    if (!log.open(QIODevice::ReadOnly)) {
        err += QStringLiteral("Reading '%1': %2\n").arg(opt.strLog, log.errorString());
        return 2;
    }
    // The log's size now: what the index says of bytes written after this
    // moment is left for the next run.
    const qint64 nLogSize = log.size();
    const QString strIndex = LogIndex::IndexNameFor(opt.strLog);
    QFile index(strIndex);
    CLogIndexReader reader;
    bool bIndexed = index.open(QIODevice::ReadOnly);
    QString strWhy = bIndexed ? QString() : index.errorString();
    if (bIndexed && !reader.Open(&index, nLogSize)) {
        bIndexed = false;
        strWhy = reader.ErrorText();
    }
    const QString strLogName = QFileInfo(opt.strLog).fileName();
    if (bIndexed && reader.LogName() != strLogName) {
        bIndexed = false;
        strWhy = QStringLiteral("it belongs to '%1'").arg(reader.LogName());
    }

    if (opt.bVerify) {
        if (!bIndexed) {
            err += QStringLiteral("'%1': %2\n").arg(strIndex, strWhy);
            return 1;
        }
        const LogIndex::Verdict v = LogIndex::Verify(reader);
        if (!v.strProblem.isEmpty()) {
            err += QStringLiteral("'%1' disagrees with '%2': %3\n")
                       .arg(strIndex, opt.strLog, v.strProblem);
            return 1;
        }
        QString text = QStringLiteral("'%1' agrees with '%2': %3 records, %4 of %5 bytes with "
                                      "times, %6 events, %7 bytes lost before the log\n")
                           .arg(strIndex, opt.strLog)
                           .arg(v.nGood)
                           .arg(v.nTimedBytes)
                           .arg(nLogSize)
                           .arg(v.nEvents)
                           .arg(v.nLostBytes);
        if (v.bTornTail)
            text += QStringLiteral("a record cut short at its end (%1 bytes) is ignored\n")
                        .arg(reader.TornBytes());
        out.write(text.toUtf8());
        return 0;
    }

    if (!bIndexed) {
        if (opt.bEvents || !opt.strFrom.isEmpty() || !opt.strTo.isEmpty()) {
            err += QStringLiteral("'%1': %2; --events, --from and --to need it\n")
                       .arg(strIndex, strWhy);
            return 2;
        }
        err += QStringLiteral("'%1': %2; the log is printed without times\n").arg(strIndex, strWhy);
        CPrinter printer(out, opt, 0);
        const bool bOk = FeedRange(log, 0, nLogSize, std::nullopt, printer, err);
        printer.Flush();
        return bOk ? 0 : 2;
    }

    // The first record with a time gives the log's day and the start.
    const qint64 nUsable = reader.UsableCount();
    Record r;
    std::optional<KrTimeStamp> start;
    for (qint64 i = 0; i < nUsable && !start; ++i) {
        if (reader.At(i, &r) && r.kind != RecordKind::Text)
            start = r.time;
    }
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

    CPrinter printer(out, opt, start ? start->nMonoUs : 0);
    qint64 i = from ? reader.FirstAtOrAfter(*from) : 0;
    qint64 nPos = 0; // the log bytes printed or passed
    if (i < nUsable && reader.At(i, &r))
        nPos = from ? r.nOffset : 0;
    bool bStopped = false;
    for (; i < nUsable; ++i) {
        if (!reader.At(i, &r))
            break;
        if (r.kind == RecordKind::Text)
            continue;
        if (to && r.time.nWallUs > *to) {
            bStopped = true;
            break;
        }
        if (from && r.time.nWallUs < *from)
            continue; // a clock set back: earlier than the range
        if (opt.bEvents) {
            if (r.kind == RecordKind::Event)
                printer.Event(r.time, EventText(reader, i, r));
            continue;
        }
        if (r.kind == RecordKind::Event) {
            // Between the lines, where it happened; a table has no room for it.
            if (!opt.bCsv)
                printer.Note(r.time, QStringLiteral("(port %1)").arg(EventText(reader, i, r)));
            continue;
        }
        // Bytes the index says nothing of (logged while it could not be
        // written) have no time; a range of times leaves them out.
        if (r.nOffset > nPos && !from && !to &&
            !FeedRange(log, nPos, r.nOffset, std::nullopt, printer, err))
            return 2;
        nPos = std::max(nPos, r.nOffset);
        if (r.kind == RecordKind::Lost) {
            printer.Note(r.time,
                         QStringLiteral("(%1 received bytes were lost: never written to the log)")
                             .arg(r.nLength));
            continue;
        }
        if (!FeedRange(log, r.nOffset, r.End(), r.time, printer, err))
            return 2;
        nPos = r.End();
    }
    // What the log holds past the index: written while the index could not
    // be, or just now.
    if (!opt.bEvents && !bStopped && !from && !to && nPos < nLogSize &&
        !FeedRange(log, nPos, nLogSize, std::nullopt, printer, err))
        return 2;
    printer.Flush();
    return 0;
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
