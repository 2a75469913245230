// The XMODEM and YMODEM engines against each other over a simulated line in
// virtual time, with the line's faults (damaged, lost, held and injected
// bytes, a line that goes dead) and the files' faults; crafted blocks for
// what a well-behaved sender never sends; the safe names and the folder
// target on real files.

#include "CXferFolderTarget.h"
#include "CXmodemReceiver.h"
#include "CXmodemSender.h"
#include "FileFaults.h"
#include "XferLine.h"
#include "XferMemory.h"
#include "XferSafeName.h"

#include <QDir>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <memory>
#include <set>

namespace {

std::unique_ptr<XferProtocol> ProtocolOf(const QString& name)
{
    static const std::map<QString, XferProtocol> protocols = {{"x", XferProtocol::Xmodem},
                                                              {"xcrc", XferProtocol::XmodemCrc},
                                                              {"x1k", XferProtocol::Xmodem1k},
                                                              {"y", XferProtocol::Ymodem}};
    const auto it = protocols.find(name);
    return it == protocols.end() ? nullptr : std::make_unique<XferProtocol>(it->second);
}

// The wire's control bytes as letters: C, A (ACK), N (NAK), X (CAN), B (BS),
// E (EOT), anything else as [hex].
QString Notation(const QByteArray& ba)
{
    static const std::map<char, char> letters = {{'C', 'C'},        {Xfer::kAck, 'A'},
                                                 {Xfer::kNak, 'N'}, {Xfer::kCan, 'X'},
                                                 {Xfer::kBs, 'B'},  {Xfer::kEot, 'E'}};
    QString text;
    for (char c : ba) {
        const auto it = letters.find(c);
        text += it != letters.end()
                    ? QString(QLatin1Char(it->second))
                    : QStringLiteral("[%1]").arg(quint8(c), 2, 16, QLatin1Char('0'));
    }
    return text;
}

QByteArray RandomBytes(qsizetype n, quint32 nSeed)
{
    QRandomGenerator random(nSeed);
    QByteArray data(n, Qt::Uninitialized);
    for (char& c : data)
        c = char(random.generate());
    return data;
}

// Sender and receiver (either may be missing) over the two directions of a
// line in virtual time, until both have ended: bytes are delivered at once,
// in pieces of nChunk (0: as they were sent); when nothing moves, the time
// jumps to the next deadline. cancel-s@N / cancel-r@N: the user cancels that
// side once N bytes went towards the receiver. False when the engines do not
// end within the bound.
bool RunPair(CXferEngine* pSender, CXferEngine* pReceiver, const QString& faults, int nChunk)
{
    QStringList toReceiver, toSender;
    qint64 nCancelSender = -1, nCancelReceiver = -1;
    for (const QString& rule : faults.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (rule.startsWith(QLatin1String("s:")))
            toReceiver << rule.mid(2);
        else if (rule.startsWith(QLatin1String("r:")))
            toSender << rule.mid(2);
        else if (rule.startsWith(QLatin1String("cancel-s@")))
            nCancelSender = rule.mid(9).toLongLong();
        else if (rule.startsWith(QLatin1String("cancel-r@")))
            nCancelReceiver = rule.mid(9).toLongLong();
    }
    CLine lineToReceiver(toReceiver), lineToSender(toSender);
    const auto deliver = [nChunk](CXferEngine* pEngine, const QByteArray& bytes, qint64 nNow,
                                  QByteArray* pOut) {
        const qsizetype nPiece = nChunk > 0 ? nChunk : qMax<qsizetype>(1, bytes.size());
        for (qsizetype i = 0; pEngine && i < bytes.size(); i += nPiece)
            pEngine->Receive(bytes.mid(i, nPiece), nNow, pOut);
    };
    qint64 nNow = 0;
    QByteArray fromSender, fromReceiver;
    if (pSender)
        pSender->Start(nNow, &fromSender);
    if (pReceiver)
        pReceiver->Start(nNow, &fromReceiver);
    for (int nStep = 0; nStep < 1000000; ++nStep) {
        if (nCancelSender >= 0 && lineToReceiver.Offset() >= nCancelSender) {
            pSender->Cancel(nNow, &fromSender);
            nCancelSender = -1;
        }
        if (nCancelReceiver >= 0 && lineToReceiver.Offset() >= nCancelReceiver) {
            pReceiver->Cancel(nNow, &fromReceiver);
            nCancelReceiver = -1;
        }
        if (!fromSender.isEmpty() || !fromReceiver.isEmpty()) {
            const QByteArray toR = lineToReceiver.Pass(std::exchange(fromSender, QByteArray()));
            deliver(pReceiver, toR, nNow, &fromReceiver);
            const QByteArray toS = lineToSender.Pass(std::exchange(fromReceiver, QByteArray()));
            deliver(pSender, toS, nNow, &fromSender);
            continue;
        }
        qint64 nNext = CXferEngine::kNoDeadline;
        for (const CXferEngine* pEngine : {pSender, pReceiver}) {
            if (pEngine)
                nNext = qMin(nNext, pEngine->NextDeadline());
        }
        if (nNext == CXferEngine::kNoDeadline)
            return true;
        nNow = qMax(nNow, nNext);
        for (CXferEngine* pEngine : {pSender, pReceiver}) {
            if (pEngine)
                pEngine->Tick(nNow, pEngine == pSender ? &fromSender : &fromReceiver);
        }
    }
    return false;
}

// "ok", "failed: <pattern>" or "cancelled: <pattern>" against how the
// engine ended.
void CheckEnd(const CXferEngine& engine, const QString& expected, const char* side)
{
    static const char* const ends[] = {"running", "ok", "failed", "cancelled"};
    const QString end = QLatin1String(ends[int(engine.End())]);
    const QString got = end + QStringLiteral(": ") + engine.Message();
    const qsizetype nColon = expected.indexOf(QLatin1Char(':'));
    const QString wantEnd = expected.left(nColon);
    QVERIFY2(end == wantEnd, qPrintable(QStringLiteral("%1 %2").arg(QLatin1String(side), got)));
    if (nColon >= 0) {
        const QRegularExpression pattern(expected.mid(nColon + 1).trimmed());
        QVERIFY2(pattern.match(engine.Message()).hasMatch(),
                 qPrintable(QStringLiteral("%1 %2").arg(QLatin1String(side), got)));
    }
}

// A block as a sender frames it: data padded with NUL to 128 or 1024 bytes.
QByteArray Framed(int nNumber, QByteArray data, bool bCrc = true)
{
    data.append(QByteArray((data.size() <= 128 ? 128 : 1024) - data.size(), '\0'));
    QByteArray block;
    block.append(data.size() == 128 ? Xfer::kSoh : Xfer::kStx);
    block.append(char(nNumber)).append(char(255 - nNumber)).append(data);
    if (bCrc) {
        const quint16 crc = XferCrc16(data.constData(), data.size());
        block.append(char(crc >> 8)).append(char(crc));
    } else {
        block.append(char(XferChecksum(data.constData(), data.size())));
    }
    return block;
}

} // namespace

class TestXmodem : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void checks_data();
    void checks();
    void transfer_data();
    void transfer();
    void craftedBlocks_data();
    void craftedBlocks();
    void cancelGoesAgainOnce_data();
    void cancelGoesAgainOnce();
    void repeatedRequestWaitsForQuiet_data();
    void repeatedRequestWaitsForQuiet();
    void answersAheadAreWhatAcksGet_data();
    void answersAheadAreWhatAcksGet();
    void safeName_data();
    void safeName();
    void folderTarget_data();
    void folderTarget();
    void failedReceiveLeavesNoFile_data();
    void failedReceiveLeavesNoFile();
};

void TestXmodem::checks_data()
{
    QTest::addColumn<QString>("got");
    QTest::addColumn<QString>("expected");
    const QByteArray digits("123456789");
    QTest::newRow("CRC-16 of the check string")
        << QString::number(XferCrc16(digits.constData(), digits.size()), 16) << "31c3";
    QTest::newRow("sum of the check string")
        << QString::number(XferChecksum(digits.constData(), digits.size()), 16) << "dd";
    CXferProgress progress;
    progress.strProtocol = QStringLiteral("YMODEM");
    progress.strFile = QStringLiteral("firmware.bin");
    progress.nFileDone = progress.nDone = 412160;
    progress.nFileSize = 1048576;
    progress.nRetries = 2;
    progress.nStartMs = 1000;
    QTest::newRow("progress line") << XferProgressText(progress, 1000 + 36800)
                                   << "YMODEM: firmware.bin 412,160 / 1,048,576 bytes, 11.2 KB/s, "
                                      "2 retries";
    progress = CXferProgress();
    progress.strProtocol = QStringLiteral("XMODEM");
    QTest::newRow("progress before the start")
        << XferProgressText(progress, 5000) << "XMODEM: 0 bytes";
    QTest::newRow("numbered name")
        << XferSafeName::Numbered("firmware.bin", 1) << "firmware (1).bin";
    QTest::newRow("numbered name without a dot")
        << XferSafeName::Numbered("README", 2) << "README (2)";
    QTest::newRow("numbered hidden name")
        << XferSafeName::Numbered(".profile", 3) << ".profile (3)";
}

void TestXmodem::checks()
{
    QFETCH(QString, got);
    QFETCH(QString, expected);
    QCOMPARE(got, expected);
}

void TestXmodem::transfer_data()
{
    // Protocols by "x", "xcrc", "x1k", "y" ("-": no engine on that side);
    // the sizes of the files a.bin, b.bin, ...; faults as RunPair and CLine
    // read them, plus src:short (the last file claims 1000 bytes more than
    // it has), src:fail@N (reading fails there), dst:fail@N (writing fails
    // there); "crc"/"sum": the check both sides must use.
    QTest::addColumn<QString>("send");
    QTest::addColumn<QString>("recv");
    QTest::addColumn<QString>("sizes");
    QTest::addColumn<QString>("faults");
    QTest::addColumn<int>("chunk");
    QTest::addColumn<QString>("check");
    QTest::addColumn<QString>("sendEnd");
    QTest::addColumn<QString>("recvEnd");
    QTest::addColumn<int>("minRetries");
    const auto row = [](const QString& name, const char* send, const char* recv, const char* sizes,
                        const char* faults, const char* sendEnd, const char* recvEnd,
                        int nMinRetries = 0, const char* check = "", int nChunk = 0) {
        QTest::newRow(qPrintable(name)) << send << recv << sizes << faults << nChunk << check
                                        << sendEnd << recvEnd << nMinRetries;
    };
    for (const char* proto : {"x", "xcrc", "x1k", "y"}) {
        for (const char* size : {"0", "1", "128", "129", "1024", "1025", "3000"})
            row(QStringLiteral("%1 %2 bytes").arg(proto, size), proto, proto, size, "", "ok", "ok",
                0, QByteArray(proto) == "x" ? "sum" : "crc");
    }
    row("y byte by byte", "y", "y", "0,1,1025,5000", "", "ok", "ok", 0, "crc", 1);
    row("y batch of three", "y", "y", "0,1000,5000", "", "ok", "ok");
    row("y empty batch", "y", "y", "", "", "ok", "ok: held no files");
    row("x1k to a crc receiver", "x1k", "xcrc", "5000", "", "ok", "ok", 0, "crc");
    row("x1k to a sum receiver: 128-byte blocks", "x1k", "x", "5000", "", "ok", "ok", 0, "sum");
    row("crc receiver falls back to the sum", "xcrc", "xcrc", "5000", "r:drop#43*3", "ok", "ok", 0,
        "sum");
    row("sender answers an early C", "xcrc", "xcrc", "5000", "r:hold@4", "ok", "ok", 0, "crc");
    row("damaged data (crc)", "y", "y", "5000", "s:flip@600", "ok", "ok", 1);
    row("damaged data (sum)", "x", "x", "5000", "s:flip@300", "ok", "ok", 1);
    row("damaged block number", "y", "y", "5000", "s:flip@134", "ok", "ok", 1);
    row("damaged block 0", "y", "y", "5000", "s:flip@20", "ok", "ok", 1);
    row("lost byte inside a block", "y", "y", "5000", "s:drop@2000", "ok", "ok", 1);
    row("lost first byte of a block", "y", "y", "5000", "s:drop@1162", "ok", "ok", 1);
    row("lost ACK", "y", "y", "5000", "r:drop#06@3", "ok", "ok", 1);
    row("lost ACK (sum)", "x", "x", "5000", "r:drop#06@2", "ok", "ok", 1);
    row("lost ACK of block 0", "y", "y", "5000", "r:drop#06@1", "ok", "ok", 1);
    row("lost NAK to the first EOT", "y", "y", "5000", "r:drop#15@1", "ok", "ok", 1);
    row("lost ACK of EOT: the next request stands for it", "y", "y", "5000,10", "r:drop#06@7", "ok",
        "ok");
    row("lost ACK of XMODEM's EOT", "x1k", "x1k", "5000", "r:drop#06@6",
        "failed: ^no answer for the end of a.bin after 10 tries \\(all of its blocks were "
        "acknowledged\\)$",
        "ok");
    row("noise before the first block", "y", "y", "5000", "s:inject@0=0d0a3e20", "ok", "ok");
    row("noise between blocks", "y", "y", "5000", "s:inject@1162=616263", "ok", "ok", 1);
    row("noise on the request line", "y", "y", "5000", "r:inject@0=41424344", "ok", "ok");
    row("one CAN from the receiver is noise", "y", "y", "5000", "r:inject@2=18", "ok", "ok");
    row("one CAN from the sender is noise", "y", "y", "5000", "s:inject@1162=18", "ok", "ok");
    row("receiver cancels", "y", "y", "5000", "r:inject@3=1818",
        "failed: ^the receiver cancelled the transfer at block 1 of a.bin$",
        "failed: ^no answer from the sender for block 2 of a.bin after 10 tries$");
    row("sender cancels", "y", "y", "5000", "s:inject@1162=1818",
        "failed: ^no answer for block 2 of a.bin after 10 tries$",
        "failed: ^the sender cancelled the transfer at block 2 of a.bin$");
    row("user cancels the sender", "y", "y", "5000", "cancel-s@2000",
        "cancelled: ^cancelled during a.bin at 2,048 bytes$",
        "failed: ^the sender cancelled the transfer at block 4 of a.bin$");
    row("user cancels the receiver", "x1k", "x1k", "5000", "cancel-r@2000",
        "failed: ^the receiver cancelled the transfer at block 3 of a.bin$",
        "cancelled: ^cancelled during xmodem.bin at 2,048 bytes$");
    row("sender falls silent", "y", "y", "5000", "s:cut@3000", "failed",
        "failed: ^no answer from the sender for block 3 of a.bin after 10 tries$");
    row("receiver falls silent", "y", "y", "5000", "r:cut@4",
        "failed: ^no answer for block 2 of a.bin after 10 tries$",
        "failed: ^the sender cancelled the transfer at block 3 of a.bin$");
    row("no receiver", "y", "-", "5000", "", "failed: ^no receiver asked to begin within 60 s$",
        "");
    row("no sender", "-", "xcrc", "", "", "", "failed: ^no sender began within 60 s$");
    row("file shrinks while it is sent", "y", "y", "5000", "src:short",
        "failed: ^a.bin ended at 5,000 of its 6,000 bytes: it changed while being sent$",
        "failed: ^the sender cancelled the transfer at block 5 of a.bin$");
    row("read error", "x", "x", "5000", "src:fail@2048",
        "failed: ^cannot read a.bin: Input/output error$",
        "failed: ^the sender cancelled the transfer at block 17 of xmodem.bin$");
    row("write error", "y", "y", "5000", "dst:fail@2048",
        "failed: ^the receiver cancelled the transfer at block 3 of a.bin$",
        "failed: ^cannot write a.bin: No space left on device$");
    row("XMODEM sender, YMODEM receiver", "x1k", "y", "5000", "",
        "failed: ^the receiver cancelled the transfer at block 1 of a.bin$",
        "failed: ^the sender uses XMODEM");
    row("YMODEM sender, XMODEM receiver", "y", "xcrc", "5000", "",
        "failed: ^the receiver cancelled the transfer at block 0",
        "failed: ^the sender uses YMODEM");
}

void TestXmodem::transfer()
{
    QFETCH(QString, send);
    QFETCH(QString, recv);
    QFETCH(QString, sizes);
    QFETCH(QString, faults);
    QFETCH(int, chunk);
    QFETCH(QString, check);
    QFETCH(QString, sendEnd);
    QFETCH(QString, recvEnd);
    QFETCH(int, minRetries);

    std::vector<std::unique_ptr<CMemorySource>> sources;
    QList<QByteArray> files;
    for (const QString& size : sizes.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        files << RandomBytes(size.toInt(), quint32(files.size() + 1));
        sources.push_back(std::make_unique<CMemorySource>(
            QStringLiteral("%1.bin").arg(QChar(char16_t(u'a' + files.size() - 1))), files.last(),
            1700000000 + files.size()));
    }
    static const QRegularExpression fileFault(QStringLiteral("(src|dst):(short|fail@(\\d+))"));
    CMemoryTarget target;
    for (const QRegularExpressionMatch& m : fileFault.globalMatch(faults)) {
        if (m.captured(1) == QLatin1String("dst"))
            target.FailAt(m.captured(3).toLongLong());
        else if (m.captured(2) == QLatin1String("short"))
            sources.back()->SetClaimedSize(files.last().size() + 1000);
        else
            sources.back()->FailAt(m.captured(3).toLongLong());
    }
    std::vector<CXferSource*> vSources;
    for (const auto& p : sources)
        vSources.push_back(p.get());

    const auto sendProto = ProtocolOf(send);
    const auto recvProto = ProtocolOf(recv);
    std::unique_ptr<CXmodemSender> sender;
    std::unique_ptr<CXmodemReceiver> receiver;
    if (sendProto)
        sender = std::make_unique<CXmodemSender>(*sendProto, vSources);
    if (recvProto)
        receiver = std::make_unique<CXmodemReceiver>(*recvProto, &target);
    QVERIFY2(RunPair(sender.get(), receiver.get(), faults, chunk), "the engines did not end");

    if (sender)
        CheckEnd(*sender, sendEnd, "sender");
    if (receiver)
        CheckEnd(*receiver, recvEnd, "receiver");
    if (!check.isEmpty()) {
        for (bool bCrc : {sender->UsesCrc(), receiver->UsesCrc()})
            QCOMPARE(bCrc ? "crc" : "sum", check);
    }
    if (sender && receiver)
        QVERIFY(qMax(sender->Progress().nRetries, receiver->Progress().nRetries) >= minRetries);

    // What the receiver kept: every begun file either stored or discarded,
    // and every stored one exact. XMODEM knows no size: a file holds the
    // data padded with SUB to a whole block.
    if (!receiver)
        return;
    int nStored = 0;
    for (const CMemoryTarget::SFile& file : target.m_files) {
        QVERIFY(file.bCommitted != file.bDiscarded);
        if (!file.bCommitted)
            continue;
        const QByteArray& sent = files.at(nStored++);
        if (*recvProto == XferProtocol::Ymodem) {
            QCOMPARE(file.data, sent);
            QCOMPARE(file.name, QByteArray(1, char('a' + nStored - 1)) + ".bin");
            QCOMPARE(file.nSize, sent.size());
            QCOMPARE(file.nModified, 1700000000 + nStored);
        } else {
            QVERIFY(file.data.startsWith(sent));
            QCOMPARE(file.data.size() % 128, 0);
            QVERIFY(file.data.size() - sent.size() < 1024);
            QCOMPARE(file.data.mid(sent.size()),
                     QByteArray(file.data.size() - sent.size(), Xfer::kSub));
        }
    }
    if (receiver->End() == XferEnd::Ok) {
        QCOMPARE(nStored, files.size());
        QCOMPARE(receiver->Files(), files.size());
    }
}

void TestXmodem::craftedBlocks_data()
{
    // Pieces fed to a receiver at time 0, with the output in Notation().
    QTest::addColumn<QString>("protocol");
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QByteArray>("stored"); // name:size:time:data of each stored file, "|" between

    const QByteArray eot(1, Xfer::kEot);
    const QByteArray header = Framed(0, QByteArray("a.bin\0"
                                                   "300 14524770400 100644\0",
                                                   29));
    const QByteArray b1 = Framed(1, QByteArray(128, 'x'));
    const QByteArray b2 = Framed(2, QByteArray(128, 'y'));
    const QByteArray b3 = Framed(3, QByteArray(128, 'z'));
    const QByteArray end = Framed(0, QByteArray());
    const QByteArray cancel(2, Xfer::kCan);

    QTest::newRow("size cuts the padding, time in octal")
        << "y" << QList<QByteArray>{header, b1, b2, b3, eot, eot, end} << "CACAAANACA"
        << "ok"
        << QByteArray("a.bin:300:1700000000:") + QByteArray(128, 'x') + QByteArray(128, 'y') +
               QByteArray(44, 'z');
    QTest::newRow("block 0 and a block again: acknowledged, written once")
        << "y" << QList<QByteArray>{header, header, b1, b1, b2, b3, eot, eot, end}
        << "CACACAAAANACA"
        << "ok"
        << QByteArray("a.bin:300:1700000000:") + QByteArray(128, 'x') + QByteArray(128, 'y') +
               QByteArray(44, 'z');
    QTest::newRow("only the name: size and time not known")
        << "y" << QList<QByteArray>{Framed(0, "b"), b1, eot, eot, end} << "CACANACA"
        << "ok" << QByteArray("b:-1:-1:") + QByteArray(128, 'x');
    QTest::newRow("a YMODEM file that ends short")
        << "y" << QList<QByteArray>{header, b1, eot, eot} << "CACANXXXXXXXXBBBBBBBB"
        << "failed: ^the sender ended a.bin at 128 of its 300 bytes$" << QByteArray();
    QTest::newRow("blocks out of step")
        << "y" << QList<QByteArray>{header, b1, b3} << "CACAXXXXXXXXBBBBBBBB"
        << "failed: ^the blocks are out of step: block 2 of a.bin was due, the sender sent block "
           "number 3$"
        << QByteArray();
    QTest::newRow("a block with the sum after 'C'")
        << "y" << QList<QByteArray>{header, Framed(1, QByteArray(128, 'x'), false)} << "CAC"
        << "running" << QByteArray();
    QTest::newRow("the sender cancels between blocks")
        << "y" << QList<QByteArray>{header, b1, cancel} << "CACA"
        << "failed: ^the sender cancelled the transfer at block 2 of a.bin$" << QByteArray();
    QTest::newRow("XMODEM: an empty file") << "xcrc" << QList<QByteArray>{eot, eot} << "CNA"
                                           << "ok" << QByteArray("xmodem.bin:-1:-1:");
    QTest::newRow("XMODEM: a block 0 is a YMODEM sender")
        << "x1k" << QList<QByteArray>{header} << "CXXXXXXXXBBBBBBBB"
        << "failed: ^the sender uses YMODEM" << QByteArray();
    QTest::newRow("block numbers wrap after 255") << "x1k" <<
        [] {
            QList<QByteArray> blocks;
            for (int n = 1; n <= 257; ++n)
                blocks << Framed(n & 0xFF, QByteArray(128, char(n)));
            return blocks << QByteArray(2, Xfer::kEot);
        }() << QStringLiteral("C") + QString(257, QLatin1Char('A')) + QStringLiteral("NA")
                                                  << "ok" << [] {
                                                         QByteArray data("xmodem.bin:-1:-1:");
                                                         for (int n = 1; n <= 257; ++n)
                                                             data += QByteArray(128, char(n));
                                                         return data;
                                                     }();
}

void TestXmodem::craftedBlocks()
{
    QFETCH(QString, protocol);
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(QString, output);
    QFETCH(QString, end);
    QFETCH(QByteArray, stored);

    CMemoryTarget target;
    CXmodemReceiver receiver(*ProtocolOf(protocol), &target);
    QByteArray out;
    receiver.Start(0, &out);
    for (const QByteArray& piece : pieces)
        receiver.Receive(piece, 0, &out);
    QCOMPARE(Notation(out), output);
    if (end == QLatin1String("running"))
        QVERIFY(!receiver.IsFinished());
    else
        CheckEnd(receiver, end, "receiver");
    QByteArrayList got;
    for (const CMemoryTarget::SFile& file : target.m_files) {
        if (file.bCommitted)
            got << file.name + ':' + QByteArray::number(file.nSize) + ':' +
                       QByteArray::number(file.nModified) + ':' + file.data;
    }
    QCOMPARE(got.join('|'), stored);
}

void TestXmodem::cancelGoesAgainOnce_data()
{
    // The user cancels at 1000 ms, once the first block went (sender) or was
    // asked for (receiver); then the pieces come, each at its time.
    QTest::addColumn<bool>("bSender");
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<QList<int>>("times");
    QTest::addColumn<QString>("output"); // after the cancel's own bytes
    const QByteArray ack(1, Xfer::kAck);
    const QString again = QStringLiteral("XXXXXXXXBBBBBBBB");
    QTest::newRow("sender: the next answer gets it again, once")
        << true << QList<QByteArray>{ack, ack} << QList<int>{1100, 1200} << again;
    QTest::newRow("sender: CAN and BS are no answer")
        << true << QList<QByteArray>{QByteArray("\x18\x18\x08"), ack} << QList<int>{1100, 1200}
        << again;
    QTest::newRow("sender: not after the answer's time")
        << true << QList<QByteArray>{ack} << QList<int>{1000 + 10000} << "";
    QTest::newRow("receiver: a block still coming gets it again")
        << false << QList<QByteArray>{Framed(1, "data").left(60), Framed(1, "data").mid(60)}
        << QList<int>{1010, 1020} << again;
}

void TestXmodem::cancelGoesAgainOnce()
{
    QFETCH(bool, bSender);
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(QList<int>, times);
    QFETCH(QString, output);
    CMemorySource source(QStringLiteral("a.bin"), RandomBytes(5000, 3));
    CMemoryTarget target;
    std::unique_ptr<CXferEngine> engine;
    if (bSender)
        engine = std::make_unique<CXmodemSender>(XferProtocol::Xmodem1k,
                                                 std::vector<CXferSource*>{&source});
    else
        engine = std::make_unique<CXmodemReceiver>(XferProtocol::Xmodem1k, &target);
    QByteArray out;
    engine->Start(0, &out);
    if (bSender) {
        engine->Receive(QByteArray("C"), 0, &out);
        engine->Tick(engine->NextDeadline(), &out); // the block goes
        QVERIFY(out.size() > 1000);
    }
    out.clear();
    engine->Cancel(1000, &out);
    QCOMPARE(Notation(out), QStringLiteral("XXXXXXXXBBBBBBBB"));
    QCOMPARE(engine->End(), XferEnd::Cancelled);
    out.clear();
    for (int i = 0; i < pieces.size(); ++i)
        engine->Receive(pieces[i], times[i], &out);
    QCOMPARE(Notation(out), output);
    QVERIFY(!engine->WantsBytes(1000 + 10000));
}

void TestXmodem::repeatedRequestWaitsForQuiet_data()
{
    // The first block goes at 50 ms (50 after the receiver's 'C'); NAKs come
    // at the times given; the block goes again at `resend`.
    QTest::addColumn<QList<int>>("naks");
    QTest::addColumn<int>("resend");
    QTest::newRow("a first NAK: 50 ms after it") << QList<int>{100} << 150;
    QTest::newRow("a second NAK: after a second of quiet") << QList<int>{100, 200} << 1200;
    QTest::newRow("each NAK meanwhile starts the quiet again")
        << QList<int>{100, 200, 700, 1100} << 2100;
}

void TestXmodem::repeatedRequestWaitsForQuiet()
{
    QFETCH(QList<int>, naks);
    QFETCH(int, resend);
    CMemorySource source(QStringLiteral("a.bin"), RandomBytes(5000, 3));
    CXmodemSender sender(XferProtocol::Xmodem1k, std::vector<CXferSource*>{&source});
    QByteArray out;
    sender.Start(0, &out);
    sender.Receive(QByteArray("C"), 0, &out);
    sender.Tick(sender.NextDeadline(), &out);
    QCOMPARE(out.size(), 1029);
    int nSent = 1;
    for (int t : naks) {
        if (sender.NextDeadline() <= t) {
            out.clear();
            sender.Tick(sender.NextDeadline(), &out);
            nSent += out.size() == 1029;
        }
        sender.Receive(QByteArray(1, Xfer::kNak), t, &out);
    }
    QCOMPARE(nSent, naks.size() > 1 ? 2 : 1);
    QCOMPARE(sender.NextDeadline(), qint64(resend));
    out.clear();
    sender.Tick(resend, &out);
    QCOMPARE(out.size(), 1029);
}

void TestXmodem::answersAheadAreWhatAcksGet_data()
{
    QTest::addColumn<QString>("protocol");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("nakAt");  // the data block answered with NAK first; 0: none
    QTest::addColumn<int>("failAt"); // the file cannot be read past this; -1: it can
    QTest::addColumn<QString>("end");
    QTest::newRow("YMODEM, a short last block") << "y" << 5 * 1024 + 1 << 0 << -1 << "ok";
    QTest::newRow("XMODEM with the sum, a NAK") << "x" << 1000 << 3 << -1 << "ok";
    QTest::newRow("XMODEM-1K, a NAK on the first") << "x1k" << 4096 << 1 << -1 << "ok";
    QTest::newRow("a read that fails is told when its block is due")
        << "x1k" << 8192 << 0 << 3000 << "failed: cannot read f\\.bin";
}

void TestXmodem::answersAheadAreWhatAcksGet()
{
    QFETCH(QString, protocol);
    QFETCH(int, size);
    QFETCH(int, nakAt);
    QFETCH(int, failAt);
    QFETCH(QString, end);
    const XferProtocol eProtocol = *ProtocolOf(protocol);
    const bool bSum = eProtocol == XferProtocol::Xmodem;
    const QByteArray data = RandomBytes(size, 7);
    CMemorySource source(QStringLiteral("f.bin"), data);
    source.FailAt(failAt);
    CXmodemSender sender(eProtocol, std::vector<CXferSource*>{&source});
    qint64 nNow = 0;
    QByteArray out;
    const auto say = [&](char c) {
        out.clear();
        sender.Receive(QByteArray(1, c), nNow, &out);
        if (out.isEmpty() && sender.NextDeadline() - nNow <= 1000) {
            nNow = sender.NextDeadline();
            sender.Tick(nNow, &out);
        }
        return out;
    };
    sender.Start(nNow, &out);
    QByteArray first = say(bSum ? Xfer::kNak : 'C');
    if (eProtocol == XferProtocol::Ymodem) {
        QVERIFY(sender.AnswersAhead(4).empty()); // block 0 is not data
        say(Xfer::kAck);
        first = say('C');
    }
    QByteArray received = first.mid(3, first.size() - (bSum ? 4 : 5));
    QByteArray last = first;
    std::vector<QByteArray> ahead = sender.AnswersAhead(4);
    for (int nBlock = 1; !sender.IsFinished() && nBlock < 100; ++nBlock) {
        if (nBlock == nakAt) {
            out.clear();
            sender.Receive(QByteArray(1, Xfer::kNak), nNow, &out);
            QVERIFY(sender.AnswersAhead(4).empty()); // the block goes again first
            nNow = sender.NextDeadline();
            sender.Tick(nNow, &out);
            QCOMPARE(out, last);
            QCOMPARE(sender.AnswersAhead(4), ahead); // read once, framed once
        }
        const QByteArray next = say(Xfer::kAck);
        if (ahead.empty())
            break; // EOT, or the read's failure
        QCOMPARE(next, ahead.front());
        last = next;
        received += next.mid(3, next.size() - (bSum ? 4 : 5));
        // The list moves on by one, towards the file's end.
        const std::vector<QByteArray> now = sender.AnswersAhead(4);
        const size_t nSame = std::min(now.size(), ahead.size() - 1);
        QVERIFY(std::equal(now.begin(), now.begin() + nSame, ahead.begin() + 1));
        ahead = now;
    }
    if (failAt < 0) {
        QCOMPARE(out, QByteArray(1, Xfer::kEot));
        QVERIFY(sender.AnswersAhead(4).empty());
        QCOMPARE(received.left(size), data);
        say(Xfer::kAck);
        if (eProtocol == XferProtocol::Ymodem) {
            say('C');
            say(Xfer::kAck);
        }
    } else {
        QCOMPARE(received, data.left(received.size()));
    }
    CheckEnd(sender, end, "sender");
}

void TestXmodem::safeName_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QString>("stored"); // or "refused: <reason>"
    QTest::newRow("plain") << QByteArray("firmware.bin") << "firmware.bin";
    QTest::newRow("folders dropped") << QByteArray("images/v2/fw.bin") << "fw.bin";
    QTest::newRow("backslash folders dropped") << QByteArray("images\\fw.bin") << "fw.bin";
    QTest::newRow("UTF-8") << QByteArray("m\xc3\xa9tro.txt") << QStringLiteral(u"m\u00e9tro.txt");
    QTest::newRow("not UTF-8: one character per byte")
        << QByteArray("m\xe9tro.txt") << QStringLiteral(u"m\u00e9tro.txt");
    QTest::newRow("hidden") << QByteArray(".config") << ".config";
    QTest::newRow("dots inside a name") << QByteArray("a..b") << "a..b";
    QTest::newRow("parent") << QByteArray("../../etc/x")
                            << "refused: it climbs out of the folder (..)";
    QTest::newRow("parent inside")
        << QByteArray("a/../../x") << "refused: it climbs out of the folder (..)";
    QTest::newRow("parent alone") << QByteArray("..")
                                  << "refused: it climbs out of the folder (..)";
    QTest::newRow("absolute") << QByteArray("/etc/x") << "refused: it is an absolute path";
    QTest::newRow("absolute, backslash") << QByteArray("\\x") << "refused: it is an absolute path";
    QTest::newRow("drive") << QByteArray("C:x") << "refused: it is an absolute path";
    QTest::newRow("empty") << QByteArray() << "refused: the sender gave no name";
    QTest::newRow("folder") << QByteArray("dir/") << "refused: it names a folder, not a file";
    QTest::newRow("dot") << QByteArray("a/.") << "refused: it names a folder, not a file";
    QTest::newRow("control character")
        << QByteArray("a\x1b[2Jb") << "refused: it holds control characters";
    QTest::newRow("newline") << QByteArray("a\nb") << "refused: it holds control characters";
    QTest::newRow("C1 control") << QByteArray("a\xc2\x9b"
                                              "b")
                                << "refused: it holds control characters";
    QTest::newRow("255 bytes") << QByteArray(255, 'n') << QString(255, QLatin1Char('n'));
    QTest::newRow("256 bytes") << QByteArray(256, 'n')
                               << "refused: it is longer than the 255 bytes a file name may have";
}

void TestXmodem::safeName()
{
    QFETCH(QByteArray, sent);
    QFETCH(QString, stored);
    QString name, why;
    const bool bOk = XferSafeName::Check(sent, &name, &why);
    QCOMPARE(bOk ? name : QStringLiteral("refused: ") + why, stored);
}

void TestXmodem::folderTarget_data()
{
    // What is in the folder before ("name" a file, "name>target" a link),
    // the name sent, and what the folder holds after (the received file
    // marked with '*'), with the note.
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<QString>("note");
    QTest::newRow("new") << QStringList() << QByteArray("fw.bin") << QStringList{"*fw.bin"} << "";
    QTest::newRow("existing file kept")
        << QStringList{"fw.bin"} << QByteArray("fw.bin") << QStringList{"*fw (1).bin", "fw.bin"}
        << "fw.bin existed: stored as fw (1).bin";
    QTest::newRow("next free number") << QStringList{"fw.bin", "fw (1).bin"} << QByteArray("fw.bin")
                                      << QStringList{"*fw (2).bin", "fw (1).bin", "fw.bin"}
                                      << "fw.bin existed: stored as fw (2).bin";
    QTest::newRow("a link that points nowhere counts")
        << QStringList{"fw.bin>/nonexistent/x"} << QByteArray("fw.bin")
        << QStringList{"*fw (1).bin", "fw.bin"} << "fw.bin existed: stored as fw (1).bin";
    QTest::newRow("folders dropped") << QStringList() << QByteArray("a/b/fw.bin")
                                     << QStringList{"*fw.bin"} << "fw.bin was sent as a/b/fw.bin";
    QTest::newRow("XMODEM: the chosen name")
        << QStringList() << QByteArray() << QStringList{"*chosen.bin"} << "";
}

void TestXmodem::folderTarget()
{
    QFETCH(QStringList, before);
    QFETCH(QByteArray, sent);
    QFETCH(QStringList, after);
    QFETCH(QString, note);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const QString& entry : before) {
        const QStringList parts = entry.split(QLatin1Char('>'));
        if (parts.size() == 2)
            QVERIFY(QFile::link(parts[1], dir.filePath(parts[0])));
        else
            QVERIFY(QFile(dir.filePath(entry)).open(QIODevice::WriteOnly));
    }
    const QByteArray data = RandomBytes(3000, 7);
    CMemorySource source(QStringLiteral("fw.bin"), data, 1600000000);
    CXferFolderTarget target(dir.path(), QStringLiteral("chosen.bin"));
    // The sender's name stands for what a YMODEM sender sends; the sender
    // itself only ever sends a plain name.
    CXmodemReceiver receiver(sent.isEmpty() ? XferProtocol::Xmodem1k : XferProtocol::Ymodem,
                             &target);
    QByteArray out;
    receiver.Start(0, &out);
    QByteArray block0 = sent;
    block0 += '\0' + QByteArray::number(data.size()) + ' ' + QByteArray::number(1600000000, 8);
    if (!sent.isEmpty())
        receiver.Receive(Framed(0, block0), 0, &out);
    for (int n = 0; n * 1024 < data.size(); ++n)
        receiver.Receive(Framed(n + 1, data.mid(n * 1024, 1024).leftJustified(1024, Xfer::kSub)), 0,
                         &out);
    receiver.Receive(QByteArray(2, Xfer::kEot), 0, &out);
    if (!sent.isEmpty())
        receiver.Receive(Framed(0, QByteArray()), 0, &out);
    QCOMPARE(receiver.End(), XferEnd::Ok);
    QCOMPARE(target.Note(), note);
    QVERIFY(note.isEmpty() || receiver.Message().endsWith(QStringLiteral("; ") + note));

    QStringList got;
    const QDir folder(dir.path());
    for (const QFileInfo& info : folder.entryInfoList(
             QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
        const bool bReceived = target.Stored().contains(info.absoluteFilePath());
        got << (bReceived ? QStringLiteral("*") : QString()) + info.fileName();
        if (!bReceived)
            continue;
        QFile file(info.absoluteFilePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray stored = file.readAll();
        if (sent.isEmpty()) {
            QVERIFY(stored.startsWith(data));
            QCOMPARE(stored.mid(data.size()), QByteArray(stored.size() - data.size(), Xfer::kSub));
        } else {
            QCOMPARE(stored, data);
            QCOMPARE(info.lastModified().toSecsSinceEpoch(), 1600000000);
        }
    }
    std::sort(got.begin(), got.end());
    std::sort(after.begin(), after.end());
    QCOMPARE(got, after);
}

void TestXmodem::failedReceiveLeavesNoFile_data()
{
    // A YMODEM block 0 with this name, then the fault; what the receiver
    // says and sends.
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("message");
    QTest::newRow("climbs out") << QByteArray("../../etc/x") << ""
                                << "^refused the file name \"../../etc/x\": it climbs out of the "
                                   "folder \\(..\\)$";
    QTest::newRow("absolute") << QByteArray("/etc/x") << ""
                              << "^refused the file name \"/etc/x\": it is an absolute path$";
    QTest::newRow("control characters shown as ?")
        << QByteArray("x\x1b]0;y\x07") << ""
        << "^refused the file name \"x\\?\\]0;y\\?\": it holds control characters$";
    QTest::newRow("sender cancels mid-file") << QByteArray("fw.bin") << "cancel"
                                             << "^the sender cancelled the transfer at block 2 of "
                                                "fw.bin$";
    QTest::newRow("sender ends the file short") << QByteArray("fw.bin") << "short"
                                                << "^the sender ended fw.bin at 1,024 of its 3,000 "
                                                   "bytes$";
    QTest::newRow("file-size limit") << QByteArray("fw.bin") << "limit"
                                     << "^cannot write fw.bin in .*/in: File too large$";
    QTest::newRow("full disk") << QByteArray("fw.bin") << "full"
                               << "^cannot write fw.bin in .*/in: No space left on device$";
}

void TestXmodem::failedReceiveLeavesNoFile()
{
    QFETCH(QByteArray, sent);
    QFETCH(QString, fault);
    QFETCH(QString, message);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString in = dir.filePath(QStringLiteral("in"));
    const bool bFull = fault == QLatin1String("full");
    CNoRoomFolder folder(bFull ? CNoRoomFolder::FullDisk : CNoRoomFolder::FileSizeLimit, in);
    if (!folder.WhyNot().isEmpty())
        QSKIP(qPrintable(folder.WhyNot()));
    CXferFolderTarget target(in);
    CXmodemReceiver receiver(XferProtocol::Ymodem, &target);
    QByteArray out;
    receiver.Start(0, &out);
    receiver.Receive(Framed(0, sent + '\0' + "3000"), 0, &out);
    if (fault == QLatin1String("limit") || bFull)
        QVERIFY(folder.Arm());
    receiver.Receive(Framed(1, QByteArray(1024, 'd')), 0, &out);
    if (fault == QLatin1String("cancel"))
        receiver.Receive(QByteArray(2, Xfer::kCan), 0, &out);
    if (fault == QLatin1String("short"))
        receiver.Receive(QByteArray(2, Xfer::kEot), 0, &out);
    folder.Lift();
    QCOMPARE(receiver.End(), XferEnd::Failed);
    QVERIFY2(QRegularExpression(message).match(receiver.Message()).hasMatch(),
             qPrintable(receiver.Message()));
    // Told to the sender unless it was the sender that cancelled.
    QCOMPARE(out.endsWith(QByteArray(8, Xfer::kCan) + QByteArray(8, Xfer::kBs)),
             fault != QLatin1String("cancel"));
    // Only what filled the disk is left.
    QCOMPARE(
        QDir(in).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
        bFull ? QStringList{"filler"} : QStringList());
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{"in"});
}

QTEST_GUILESS_MAIN(TestXmodem)
#include "tst_xmodem.moc"
