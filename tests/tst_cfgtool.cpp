// vornterm-cfg: printing and changing the settings file.

#include "CArchive.h"
#include "CKrCommPort.h"
#include "CfgTool.h"
#include "FileBytes.h"
#include "FileFaults.h"
#include "PortHelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

class TestCfgTool : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void missingFile();
    void setThenPrint();
    void setKeepsOtherFields();
    void badValues_data();
    void badValues();
    void damagedFileIsNotOverwritten_data();
    void damagedFileIsNotOverwritten();
    void bytesAfterTheConfigurationAreIgnored();
    void failedWriteNamesTheReason_data();
    void failedWriteNamesTheReason();
    void theWindowReadsWhatTheToolWrote();
    void programOutlivesAFileSizeLimit();

private:
    int Run(const QStringList& args)
    {
        m_out.clear();
        m_err.clear();
        return RunCfgTool(args, m_out, m_err);
    }

    QTemporaryDir* m_pDir = nullptr;
    QString m_saved;
    QString m_out;
    QString m_err;
};

void TestCfgTool::init()
{
    m_pDir = new QTemporaryDir;
    m_saved = QDir::currentPath();
    QDir::setCurrent(m_pDir->path());
}

void TestCfgTool::cleanup()
{
    QDir::setCurrent(m_saved);
    delete m_pDir;
}

void TestCfgTool::missingFile()
{
    // The message says how to make one.
    QCOMPARE(Run({}), 1);
    QVERIFY(m_err.startsWith(QStringLiteral("'VornTerm.cfg' not found in ")));
    QVERIFY(m_err.contains(QStringLiteral("'vornterm-cfg set ...' makes one")));
    QVERIFY(m_out.isEmpty());
    QCOMPARE(Run({QStringLiteral("bogus")}), 2);
    QVERIFY(m_err.contains(QStringLiteral("usage")));
    // Asked for, the usage is an answer, not an error.
    for (const char* help : {"--help", "-h"}) {
        QCOMPARE(Run({QString::fromLatin1(help)}), 0);
        QVERIFY(m_out.startsWith(QStringLiteral("usage: vornterm-cfg")));
        QVERIFY(m_err.isEmpty());
    }
}

void TestCfgTool::setThenPrint()
{
    QCOMPARE(Run({"set", "port=/dev/ttyUSB0", "baud=115200", "data=8", "parity=N", "stop=1",
                  "flow=none"}),
             0);
    QCOMPARE(Run({}), 0);
    QCOMPARE(m_out, QStringLiteral("port=/dev/ttyUSB0\nbaud=115200\ndata=8\nparity=N\nstop=1\n"
                                   "flow=none\ndtr=on\nrts=on\n"));
    QCOMPARE(Run({"set", "stop=1.5", "data=5", "parity=M", "flow=xonxoff", "dtr=off", "RTS=Keep"}),
             0);
    QCOMPARE(Run({}), 0);
    QCOMPARE(m_out, QStringLiteral("port=/dev/ttyUSB0\nbaud=115200\ndata=5\nparity=M\nstop=1.5\n"
                                   "flow=xonxoff\ndtr=off\nrts=keep\n"));
}

void TestCfgTool::setKeepsOtherFields()
{
    QCOMPARE(Run({"set", "baud=300"}), 0);
    QCOMPARE(Run({}), 0);
    QCOMPARE(m_out, QStringLiteral("port=loop://\nbaud=300\ndata=8\nparity=N\nstop=1\nflow=none\n"
                                   "dtr=on\nrts=on\n"));
    QCOMPARE(Run({"set", "flow=rtscts"}), 0);
    QCOMPARE(Run({}), 0);
    QVERIFY(m_out.contains(QStringLiteral("baud=300\n")));
    QVERIFY(m_out.contains(QStringLiteral("flow=rtscts\n")));
}

void TestCfgTool::badValues_data()
{
    QTest::addColumn<QString>("arg");
    QTest::addColumn<QString>("field");
    QTest::newRow("baud not a number") << "baud=fast"
                                       << "baud";
    QTest::newRow("baud zero") << "baud=0"
                               << "baud";
    QTest::newRow("data bits 9") << "data=9"
                                 << "data";
    QTest::newRow("parity X") << "parity=X"
                              << "parity";
    QTest::newRow("stop bits 3") << "stop=3"
                                 << "stop";
    QTest::newRow("flow unknown") << "flow=dtr"
                                  << "flow";
    QTest::newRow("DTR at open unknown") << "dtr=low"
                                         << "dtr: 'low' is not one of on, off, keep";
    QTest::newRow("unknown field") << "speed=9600"
                                   << "speed";
    QTest::newRow("empty port") << "port="
                                << "port";
    QTest::newRow("URL without port") << "port=socket://lab-pi"
                                      << "socket://HOST:PORT";
}

void TestCfgTool::badValues()
{
    QFETCH(QString, arg);
    QFETCH(QString, field);
    QCOMPARE(Run({"set", "baud=2400"}), 0);
    QFile before(QStringLiteral("VornTerm.cfg"));
    QVERIFY(before.open(QIODevice::ReadOnly));
    const QByteArray stored = before.readAll();
    before.close();

    QCOMPARE(Run({"set", "data=7", arg}), 2);
    QVERIFY2(m_err.contains(field), qPrintable(m_err));
    QFile after(QStringLiteral("VornTerm.cfg"));
    QVERIFY(after.open(QIODevice::ReadOnly));
    QCOMPARE(after.readAll(), stored);
}

void TestCfgTool::damagedFileIsNotOverwritten_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("reason");
    QTest::newRow("garbage") << QByteArray("garbage") << "";
    // What "set dtr=off rts=keep" writes for the loopback, one byte changed.
    CKrCommConfig lines;
    lines.dtrAtOpen = KrLineAtOpen::Off;
    lines.rtsAtOpen = KrLineAtOpen::Keep;
    QByteArray stored = StoredConfig(lines);
    stored[stored.size() - 8] = 'k'; // the "K" of the lines' tag
    QTest::newRow("DTR and RTS tag damaged")
        << stored << "port configuration version 2 is damaged: its check value does not match";
}

void TestCfgTool::damagedFileIsNotOverwritten()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);
    QFile f(QStringLiteral("VornTerm.cfg"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content);
    f.close();
    QCOMPARE(Run({}), 1);
    QVERIFY(!m_err.isEmpty());
    QVERIFY2(m_err.contains(reason), qPrintable(m_err));
    QVERIFY(m_out.isEmpty());
    QCOMPARE(Run({"set", "baud=1200"}), 1);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), content);
}

void TestCfgTool::bytesAfterTheConfigurationAreIgnored()
{
    QCOMPARE(Run({"set", "baud=2400"}), 0);
    QFile f(QStringLiteral("VornTerm.cfg"));
    QVERIFY(f.open(QIODevice::Append));
    f.write("junk");
    f.close();
    QCOMPARE(Run({}), 0);
    QVERIFY(m_out.contains(QStringLiteral("baud=2400\n")));
}

void TestCfgTool::failedWriteNamesTheReason_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("full disk") << int(CNoRoomFolder::FullDisk);
    QTest::newRow("file-size limit") << int(CNoRoomFolder::FileSizeLimit);
}

void TestCfgTool::failedWriteNamesTheReason()
{
    QFETCH(int, kind);
    CNoRoomFolder folder(CNoRoomFolder::Kind(kind), m_pDir->filePath(QStringLiteral("disk")));
    if (!folder.WhyNot().isEmpty())
        QSKIP(qPrintable(folder.WhyNot()));
    QDir::setCurrent(m_pDir->filePath(QStringLiteral("disk")));
    QCOMPARE(Run({"set", "baud=2400"}), 0);
    const QByteArray stored = ReadFile(QStringLiteral("VornTerm.cfg"));

    QVERIFY(folder.Arm());
    const int rc = Run({"set", "baud=1200"});
    folder.Lift();
    QCOMPARE(rc, 1);
    QCOMPARE(m_err, QStringLiteral("Writing 'VornTerm.cfg': %1\n").arg(folder.Reason()));
    QCOMPARE(ReadFile(QStringLiteral("VornTerm.cfg")), stored);
}

void TestCfgTool::theWindowReadsWhatTheToolWrote()
{
    QCOMPARE(Run({"set", "port=loop://", "baud=38400", "parity=E", "data=7", "stop=2"}), 0);
    QFile f(QStringLiteral("VornTerm.cfg"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    CArchive ar(&f, CArchive::load);
    CKrCommPort port;
    port.Serialize(ar);
    QCOMPARE(port.GetConfig().SettingsText(), QStringLiteral("38400,7,E,2"));
}

void TestCfgTool::programOutlivesAFileSizeLimit()
{
    // The real program, under "ulimit -f 0" and the default SIGXFSZ action:
    // it must report the failed write, not be killed by the signal.
    const QString tool = QStringLiteral(VORNTERM_BINARY_DIR "/vornterm-cfg");
    if (!QFileInfo::exists(tool))
        QFAIL("the vornterm-cfg program is not built");
    QCOMPARE(Run({"set", "baud=2400"}), 0);
    const QByteArray stored = ReadFile(QStringLiteral("VornTerm.cfg"));
    const auto previous = std::signal(SIGXFSZ, SIG_DFL); // inherited by the child
    QProcess proc;
    proc.start(
        QStringLiteral("/bin/sh"),
        {QStringLiteral("-c"), QStringLiteral("ulimit -f 0; exec \"$0\" set baud=1200"), tool});
    const bool bFinished = proc.waitForFinished(20000);
    std::signal(SIGXFSZ, previous);
    QVERIFY(bFinished);
    QCOMPARE(proc.exitStatus(), QProcess::NormalExit);
    QCOMPARE(proc.exitCode(), 1);
    QCOMPARE(QString::fromLocal8Bit(proc.readAllStandardError()),
             QStringLiteral("Writing 'VornTerm.cfg': File too large\n"));
    QCOMPARE(ReadFile(QStringLiteral("VornTerm.cfg")), stored);
}

QTEST_MAIN(TestCfgTool)
#include "tst_cfgtool.moc"
