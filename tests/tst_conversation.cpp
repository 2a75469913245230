// Both directions on one timeline: what the window sent beside what it
// received in the day's timing index, read back with vornterm-log --sent,
// and two ports (two real programs in two folders) merged with --merge.
// The times' closeness to the script's is a benchmark (bench_exchange); here
// only what load cannot change is asserted: order, direction, bytes, and that
// a reply never comes sooner than the device waited.

#include "CDataView.h"
#include "LogTool.h"
#include "PrivateDesktop.h"
#include "RealProgram.h"
#include "TerminalFixture.h"
#include "TryTimeout.h"

#include <QBuffer>
#include <QCheckBox>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

namespace {

// vornterm-log's output for these arguments; `nStatus` gets its status.
QStringList LogTool(const QStringList& args, int* pStatus = nullptr)
{
    QByteArray bytes;
    QBuffer out(&bytes);
    out.open(QIODevice::WriteOnly);
    QString err;
    const int nStatus = RunLogTool(args, out, err);
    if (pStatus)
        *pStatus = nStatus;
    return QString::fromUtf8(bytes).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

class TestConversation : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void requestsAndRepliesOnOneTimeline();
    void twoPortsMergedInTheOrderWritten();
};

void TestConversation::requestsAndRepliesOnOneTimeline()
{
    // A request typed in the window and ended with Enter, the device
    // answering 40 ms after it read the request, 20 times.
    constexpr int kRounds = 20;
    constexpr int kReplyMs = 40;
    PtyTerminal fx;
    QVERIFY(fx.opened);
    fx.dlg->LogInputCheck()->setChecked(true);
    const QDateTime started = QDateTime::currentDateTime();
    for (int i = 0; i < kRounds; ++i) {
        QTest::keyClicks(fx.dlg->DataView(), QStringLiteral("AT+CSQ"));
        QTest::keyClick(fx.dlg->DataView(), Qt::Key_Return);
        QCOMPARE(fx.pty.ReadMasterFor(7), QByteArray("AT+CSQ\r"));
        QThread::msleep(kReplyMs);
        QVERIFY(fx.pty.WriteMaster("+CSQ: 20,99\r\n"));
        QTRY_VERIFY(fx.dlg->ReceiveSink().InputLog().Flush(1000) &&
                    fx.LoggedSince(started).size() == 13 * (i + 1));
    }
    const QString log = fx.Path(CInputLog::FileNameFor(started));

    // The requests and replies, without the port's events between them.
    QStringList lines;
    for (const QString& line : LogTool({"--sent", "--time=delta", log})) {
        if (!line.contains(QStringLiteral("  (")))
            lines << line;
    }
    QCOMPARE(lines.size(), 2 * kRounds);
    for (int i = 0; i < kRounds; ++i) {
        const QString sent = lines[2 * i];
        const QString reply = lines[2 * i + 1];
        QVERIFY2(sent.endsWith(QStringLiteral("> AT+CSQ\\r")), qPrintable(sent));
        QVERIFY2(reply.endsWith(QStringLiteral("< +CSQ: 20,99")), qPrintable(reply));
        // The time since the request: never less than the device waited.
        const double dDelay = reply.section(QLatin1Char(' '), 0, 0).toDouble();
        QVERIFY2(dDelay >= kReplyMs / 1000.0, qPrintable(reply));
    }

    // The same as a table: the time since 1970 first, the direction, the
    // bytes as text in the row.
    const QStringList rows = LogTool({"--sent", "--csv", "--time=epoch", log});
    QCOMPARE(rows.size(), 1 + 2 * kRounds);
    QVERIFY2(rows[0].startsWith(QStringLiteral("time,direction,")), qPrintable(rows[0]));
    const double dStart = started.toMSecsSinceEpoch() / 1000.0;
    for (int i = 0; i < kRounds; ++i) {
        const QString sent = rows[1 + 2 * i];
        QVERIFY(sent.section(QLatin1Char(','), 0, 0).toDouble() >= dStart);
        QCOMPARE(sent.section(QLatin1Char(','), 1, 1), QStringLiteral("sent"));
        QVERIFY2(sent.endsWith(QStringLiteral(",\"AT+CSQ\\r\"")), qPrintable(sent));
        QCOMPARE(rows[2 + 2 * i].section(QLatin1Char(','), 1, 1), QStringLiteral("received"));
    }
}

void TestConversation::twoPortsMergedInTheOrderWritten()
{
    // Two programs in two folders, each on a pseudo-terminal of its own, fed
    // by one script with gaps far longer than any read's delay.
    PrivateDesktop desktop;
    if (desktop.ToolsMissing())
        QSKIP(qPrintable(desktop.WhyNot()));
    QVERIFY2(desktop.WhyNot().isEmpty(), qPrintable(desktop.WhyNot()));
    struct Port
    {
        QTemporaryDir dir;
        PtyPair pty;
        QProcess proc;
    };
    Port ports[2];
    for (Port& p : ports) {
        QVERIFY(WriteFile(p.dir.filePath(QStringLiteral("VornTerm.cfg")),
                          StoredConfig(ConfigFor(p.pty.SlavePath()))));
        StartProgram(p.proc, p.dir.path(), desktop.Environment());
        QTRY_VERIFY_WITH_TIMEOUT(ProcessHasOpen(p.proc.processId(), p.pty.SlavePath()), 20000);
        QProcess driver;
        QCOMPARE(desktop.Drive(driver, p.proc.processId(), {QStringLiteral("log-on")}),
                 QStringLiteral("checked"));
        driver.waitForFinished(10000);
    }
    const QDateTime started = QDateTime::currentDateTime();
    const QList<QPair<int, QByteArray>> script = {{0, "A1\r\n"}, {1, "B1\r\n"}, {1, "B2\r\n"},
                                                  {0, "A2\r\n"}, {1, "B3\r\n"}, {0, "A3\r\n"}};
    for (const auto& step : script) {
        QVERIFY(ports[step.first].pty.WriteMaster(step.second));
        QThread::msleep(200);
    }
    for (Port& p : ports) {
        QVERIFY(SignalProgram(p.proc, SIGTERM));
        QVERIFY(p.proc.waitForFinished(15000));
    }
    const QString name = CInputLog::FileNameFor(started);
    int nStatus = -1;
    const QStringList lines =
        LogTool({"--merge", "A=" + ports[0].dir.filePath(name), "B=" + ports[1].dir.filePath(name)},
                &nStatus);
    QCOMPARE(nStatus, 0);
    QStringList data;
    for (const QString& line : lines) {
        if (!line.contains(QLatin1Char('(')))
            data << line.section(QStringLiteral("  "), 1).simplified();
    }
    QCOMPARE(data, (QStringList{"A A1", "B B1", "B B2", "A A2", "B B3", "A A3"}));
}

QTEST_MAIN(TestConversation)
#include "tst_conversation.moc"
