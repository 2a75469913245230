// The XMODEM and YMODEM engines against lrzsz (sx, sb, rx, rb), another
// team's implementation, over pseudo-terminal pairs: the engine on the
// master with the real clock (XferRunner.h), the lrzsz program with its
// standard input and output on the slave. Every protocol in both directions
// and the sizes around the block edges; then the line's faults through a
// proxy between two pairs (XferProxy.h). XMODEM sends no size, so an XMODEM
// file is compared after its SUB padding is stripped, as the protocol implies.
// Needs lrzsz (skipped without it).

#include "CXferFileSource.h"
#include "CXferFolderTarget.h"
#include "CXmodemReceiver.h"
#include "CXmodemSender.h"
#include "FileBytes.h"
#include "PtyPair.h"
#include "XferPeer.h"
#include "XferRunner.h"

#include <QDateTime>
#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

// The bound of one transfer: a guard against a hang, never a measure.
constexpr int kLimitMs = 60000;
constexpr qint64 kFileTime = 1600000000;

XferProtocol ProtocolOf(const QString& name)
{
    if (name == QLatin1String("x"))
        return XferProtocol::Xmodem;
    if (name == QLatin1String("xcrc"))
        return XferProtocol::XmodemCrc;
    if (name == QLatin1String("x1k"))
        return XferProtocol::Xmodem1k;
    return XferProtocol::Ymodem;
}

// The lrzsz command that answers our engine: the receiver for a send of
// ours, the sender (of `files`) for a receive of ours. Quiet (-q), and the
// receivers' timeout at its smallest (-t 10: one second).
QStringList PeerCommand(const QString& protocol, bool bWeSend, const QStringList& files)
{
    if (bWeSend) {
        if (protocol == QLatin1String("y"))
            return {"rb", "-q", "-t", "10"};
        if (protocol == QLatin1String("x"))
            return {"rx", "-q", "-t", "10", "data.bin"};
        return {"rx", "-q", "-c", "-t", "10", "data.bin"};
    }
    QStringList command;
    if (protocol == QLatin1String("y"))
        command = QStringList{"sb", "-q", "-k"};
    else if (protocol == QLatin1String("x1k"))
        command = QStringList{"sx", "-q", "-k"};
    else
        command = QStringList{"sx", "-q"};
    return command + files;
}

// The engine's line: a pty pair whose far end the proxy joins to lrzsz's
// standard input and output (XferPeer.h).
class CLineSetup
{
public:
    CLineSetup(const QStringList& toPeer, const QStringList& toEngine)
        : m_peer(m_engine.SlaveFd(), toPeer, toEngine)
    {
    }
    bool IsValid() const { return m_engine.IsValid() && m_peer.IsValid(); }
    int EngineFd() const { return m_engine.MasterFd(); }
    QString PeerInput() const { return m_peer.PeerInput(); }
    QString PeerOutput() const { return m_peer.PeerOutput(); }

private:
    PtyPair m_engine;
    CXferPeerLine m_peer; // last: its proxy stops before the pair closes
};

QByteArray StrippedOfPadding(QByteArray data)
{
    while (data.endsWith(Xfer::kSub))
        data.chop(1);
    return data;
}

// One transfer: its files, its line, its engine and the lrzsz program at the
// other end.
struct STransfer
{
    QString strName; // "y:70000,0,1500"
    XferProtocol eProtocol = XferProtocol::Ymodem;
    QTemporaryDir dir;
    QString from, to;
    QStringList names;
    QList<QByteArray> files;
    std::unique_ptr<CLineSetup> line;
    std::vector<std::unique_ptr<CXferFileSource>> sources;
    std::unique_ptr<CXferFolderTarget> target;
    std::unique_ptr<CXferEngine> engine;
    CXferPeer peer; // last: ends before the line closes
};

// Makes the files of `sizes` ("70000,0,1500": a batch) in a folder, the
// line, the engine and starts lrzsz. Empty, or what failed.
QString Prepare(STransfer& t, bool bWeSend, const QString& protocol, const QString& sizes,
                const QString& toPeer, const QString& toEngine, const QString& setup)
{
    if (!t.dir.isValid())
        return QStringLiteral("no temporary folder");
    t.from = t.dir.filePath(QStringLiteral("from"));
    t.to = t.dir.filePath(QStringLiteral("to"));
    QDir().mkpath(t.from);
    QDir().mkpath(t.to);
    for (const QString& size : sizes.split(QLatin1Char(','))) {
        QRandomGenerator random(quint32(size.toInt() + t.files.size()));
        QByteArray data(size.toInt(), Qt::Uninitialized);
        for (char& c : data)
            c = char(random.generate());
        t.names << (t.files.isEmpty() ? QStringLiteral("data.bin")
                                      : QStringLiteral("more%1.bin").arg(t.files.size()));
        t.files << data;
        QFile file(t.from + QLatin1Char('/') + t.names.last());
        if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.flush() ||
            !file.setFileTime(QDateTime::fromSecsSinceEpoch(kFileTime + t.files.size()),
                              QFileDevice::FileModificationTime))
            return QStringLiteral("cannot write %1").arg(file.fileName());
    }
    if (setup == QLatin1String("dir"))
        QDir().mkpath(t.to + QStringLiteral("/data.bin"));
    t.line = std::make_unique<CLineSetup>(toPeer.split(QLatin1Char(' '), Qt::SkipEmptyParts),
                                          toEngine.split(QLatin1Char(' '), Qt::SkipEmptyParts));
    if (!t.line->IsValid())
        return QStringLiteral("no pseudo-terminal");
    std::vector<CXferSource*> vSources;
    for (const QString& name : t.names) {
        t.sources.push_back(std::make_unique<CXferFileSource>());
        QString strError;
        if (!t.sources.back()->Open(t.from + QLatin1Char('/') + name, &strError))
            return strError;
        vSources.push_back(t.sources.back().get());
    }
    t.target = std::make_unique<CXferFolderTarget>(t.to, QStringLiteral("data.bin"));
    if (bWeSend)
        t.engine =
            std::make_unique<CXmodemSender>(ProtocolOf(protocol), vSources, XferQuickTimings(true));
    else
        t.engine = std::make_unique<CXmodemReceiver>(ProtocolOf(protocol), t.target.get(),
                                                     XferQuickTimings(false));
    if (!t.peer.Start(PeerCommand(protocol, bWeSend, t.names), bWeSend ? t.to : t.from,
                      t.line->PeerInput(), t.line->PeerOutput()))
        return QStringLiteral("lrzsz did not start");
    return QString();
}

} // namespace

class TestXmodemLrzsz : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void transfer_data();
    void transfer();
};

void TestXmodemLrzsz::initTestCase()
{
    if (!LrzszInstalled())
        QSKIP("lrzsz is not installed (sx, sb, rx, rb)");
}

void TestXmodemLrzsz::transfer_data()
{
    // Who sends ("we" or "lrzsz"); the transfers, side by side, by protocol
    // (x, xcrc, x1k, y) and the sizes of their files ("x:1;127 y:0": three
    // transfers, "y:70000,0,1500": one batch); the proxy's rules towards
    // lrzsz and towards the engine ("-": no proxy); the engine's user
    // cancels after this many bytes (-1: never); "dir" puts a folder where
    // lrzsz would store the file; how the engine ends; how lrzsz ends ("0",
    // "fails", "any"); the least retries the engine counts.
    QTest::addColumn<QString>("sender");
    QTest::addColumn<QString>("transfers");
    QTest::addColumn<QString>("toPeer");
    QTest::addColumn<QString>("toEngine");
    QTest::addColumn<int>("cancelAt");
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QString>("peerEnd");
    QTest::addColumn<int>("minRetries");
    const auto row = [](const QString& name, const char* sender, const char* transfers,
                        const char* toPeer = "", const char* toEngine = "", const char* end = "ok",
                        const char* peerEnd = "0", int nMinRetries = 0, int nCancelAt = -1,
                        const char* setup = "") {
        QTest::newRow(qPrintable(name)) << sender << transfers << toPeer << toEngine << nCancelAt
                                        << setup << end << peerEnd << nMinRetries;
    };
    // Every protocol and size of a direction side by side. 1 MiB goes with
    // the 1024-byte blocks only: 8192 turns of 128-byte blocks over the
    // line's latency would take half a minute.
    for (const char* sender : {"we", "lrzsz"})
        row(QStringLiteral("%1 send").arg(sender), sender,
            "x:1;127;128;129;1023;1024;1025 xcrc:1;127;128;129;1023;1024;1025 "
            "x1k:1;127;128;129;1023;1024;1025;1048576 "
            "y:0;1;127;128;129;1023;1024;1025;1048576;70000,0,1500");
    // Faults.
    row("damaged block from us: rx asks again", "we", "xcrc:5000", "flip@300", "", "ok", "0", 1);
    row("damaged block from sx: we ask again", "lrzsz", "xcrc:5000", "", "flip@300", "ok", "0", 1);
    row("damaged block from sb: we ask again", "lrzsz", "y:5000", "", "flip@2000", "ok", "0", 1);
    row("lost ACK from rx: sent again, stored once", "we", "x1k:5000", "", "drop#06@2", "ok", "0",
        1);
    row("lost ACK from rb: sent again, stored once", "we", "y:5000", "", "drop#06@3", "ok", "0", 1);
    row("lost ACK to sx: stored once", "lrzsz", "xcrc:5000", "drop#06@3", "", "ok", "0", 1);
    row("lost ACK to sb: stored once", "lrzsz", "y:5000", "drop#06@4", "", "ok", "0", 1);
    row("pause inside a block beyond the gap", "lrzsz", "x1k:5000", "", "delay@1500=600", "ok", "0",
        1);
    row("short pause inside a block", "lrzsz", "x1k:5000", "", "delay@1500=50", "ok", "0");
    row("sx stops mid-file", "lrzsz", "xcrc:5000", "", "cut@1000",
        "failed: ^no answer from the sender for block 8 of data.bin after 10 tries$", "any");
    row("sb stops mid-file", "lrzsz", "y:5000", "", "cut@3000",
        "failed: ^no answer from the sender for block 3 of data.bin after 10 tries$", "any");
    row("rb cancels: it cannot make the file", "we", "y:5000", "", "",
        "failed: ^the receiver cancelled the transfer at the first block of data.bin$", "any", 0,
        -1, "dir");
    row("sx cancels between blocks", "lrzsz", "xcrc:5000", "", "inject@1064=1818",
        "failed: ^the sender cancelled the transfer at block 9 of data.bin$", "any");
    row("sb cancels between blocks", "lrzsz", "y:5000", "", "inject@2191=1818",
        "failed: ^the sender cancelled the transfer at block 3 of data.bin$", "any");
    row("we cancel a receive: sx ends", "lrzsz", "xcrc:50000", "", "",
        "cancelled: ^cancelled during data.bin at", "fails", 0, 10000);
    row("we cancel a send: rb ends", "we", "y:50000", "", "",
        "cancelled: ^cancelled during data.bin at", "fails", 0, 10000);
}

void TestXmodemLrzsz::transfer()
{
    QFETCH(QString, sender);
    QFETCH(QString, transfers);
    QFETCH(QString, toPeer);
    QFETCH(QString, toEngine);
    QFETCH(int, cancelAt);
    QFETCH(QString, setup);
    QFETCH(QString, end);
    QFETCH(QString, peerEnd);
    QFETCH(int, minRetries);
    const bool bWeSend = sender == QLatin1String("we");

    std::vector<std::unique_ptr<STransfer>> all;
    std::vector<SXferRun> runs;
    for (const QString& group : transfers.split(QLatin1Char(' '))) {
        const QString protocol = group.section(QLatin1Char(':'), 0, 0);
        for (const QString& sizes : group.section(QLatin1Char(':'), 1).split(QLatin1Char(';'))) {
            all.push_back(std::make_unique<STransfer>());
            STransfer& t = *all.back();
            t.strName = protocol + QLatin1Char(':') + sizes;
            t.eProtocol = ProtocolOf(protocol);
            const QString strError = Prepare(t, bWeSend, protocol, sizes, toPeer, toEngine, setup);
            QVERIFY2(strError.isEmpty(), qPrintable(strError));
            SXferRun run;
            run.pEngine = t.engine.get();
            run.fd = t.line->EngineFd();
            run.onTurn = [cancelAt](CXferEngine& e, qint64 nNowMs, QByteArray* pOut) {
                if (cancelAt >= 0 && e.Progress().nDone >= cancelAt)
                    e.Cancel(nNowMs, pOut);
            };
            runs.push_back(std::move(run));
        }
    }
    const bool bEnded = RunXfers(runs, kLimitMs);

    static const char* const ends[] = {"running", "ok", "failed", "cancelled"};
    const qsizetype nColon = end.indexOf(QLatin1Char(':'));
    for (size_t i = 0; i < all.size(); ++i) {
        STransfer& t = *all[i];
        const CXferEngine& engine = *t.engine;
        const int nPeerExit = t.peer.End(peerEnd == QLatin1String("any") ? 0 : 20000);
        const QString context = QStringLiteral("%1: engine %2: %3; lrzsz exit %4: %5")
                                    .arg(t.strName)
                                    .arg(QLatin1String(ends[int(engine.End())]), engine.Message())
                                    .arg(nPeerExit)
                                    .arg(t.peer.Stderr());
        QVERIFY2(bEnded || runs[i].bOver, qPrintable(context));
        QVERIFY2(QLatin1String(ends[int(engine.End())]) == end.left(nColon), qPrintable(context));
        if (nColon >= 0)
            QVERIFY2(QRegularExpression(end.mid(nColon + 1).trimmed())
                         .match(engine.Message())
                         .hasMatch(),
                     qPrintable(context));
        if (peerEnd == QLatin1String("0"))
            QVERIFY2(nPeerExit == 0, qPrintable(context));
        else if (peerEnd == QLatin1String("fails"))
            QVERIFY2(nPeerExit != 0, qPrintable(context));
        QVERIFY2(engine.Progress().nRetries >= minRetries, qPrintable(context));

        if (engine.End() != XferEnd::Ok) {
            // A receive of ours that failed leaves nothing behind.
            if (!bWeSend)
                QVERIFY2(QDir(t.to).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                         qPrintable(context));
            continue;
        }
        // The check is the one the receiver's protocol asks for.
        const bool bCrc = bWeSend ? static_cast<const CXmodemSender&>(engine).UsesCrc()
                                  : static_cast<const CXmodemReceiver&>(engine).UsesCrc();
        QVERIFY2(bCrc == (t.eProtocol != XferProtocol::Xmodem), qPrintable(context));
        for (int n = 0; n < t.names.size(); ++n) {
            const QString path = t.to + QLatin1Char('/') + t.names[n];
            const QByteArray got = ReadFile(path);
            if (t.eProtocol == XferProtocol::Ymodem) {
                QVERIFY2(got == t.files[n], qPrintable(context + QLatin1Char(' ') + t.names[n]));
                QVERIFY2(QFileInfo(path).lastModified().toSecsSinceEpoch() == kFileTime + n + 1,
                         qPrintable(context + QStringLiteral(" time of ") + t.names[n]));
            } else {
                QVERIFY2(StrippedOfPadding(got) == StrippedOfPadding(t.files[n]),
                         qPrintable(context + QLatin1Char(' ') + t.names[n]));
            }
        }
        QVERIFY2(QDir(t.to).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot) ==
                     t.names,
                 qPrintable(context));
    }
}

QTEST_GUILESS_MAIN(TestXmodemLrzsz)
#include "tst_xmodemlrzsz.moc"
