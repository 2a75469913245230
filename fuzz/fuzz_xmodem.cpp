// The XMODEM/YMODEM receiver under arbitrary bytes in arbitrary pieces at
// arbitrary times, with every protocol: it never crashes; a name it stores
// under passes XferSafeName and stays inside the chosen folder; it writes
// only into a begun file, never more than came and never past the size from
// block 0, and stores a YMODEM file only whole; it answers only with the
// protocol's control bytes; and once the bytes stop, its deadlines end it
// in a bounded number of steps. Single-threaded.
//
// Input: one byte for the protocol, then pieces, each a 16-bit length and a
// 16-bit time step in milliseconds (little-endian), then that many bytes.

#include "CXmodemReceiver.h"
#include "FuzzCheck.h"
#include "XferSafeName.h"

#include <QDir>

#include <cstdint>

namespace {

const QString kFolder = QStringLiteral("/fuzz/folder");

class CCheckedTarget : public CXferTarget
{
public:
    bool Begin(const QByteArray& baName, qint64 nSize, qint64 nModified, QString* pError) override
    {
        Q_UNUSED(nModified);
        FUZZ_CHECK(!m_bOpen);
        QString name = QStringLiteral("chosen.bin");
        if (!baName.isEmpty()) {
            QString why;
            if (!XferSafeName::Check(baName, &name, &why)) {
                FUZZ_CHECK(!why.isEmpty());
                *pError = why;
                return false;
            }
        }
        // A plain name, directly inside the folder.
        FUZZ_CHECK(!name.isEmpty() && name != QLatin1String(".") && name != QLatin1String(".."));
        FUZZ_CHECK(!name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')));
        const QString path = QDir::cleanPath(kFolder + QLatin1Char('/') + name);
        FUZZ_CHECK(path.startsWith(kFolder + QLatin1Char('/')));
        FUZZ_CHECK(path.indexOf(QLatin1Char('/'), kFolder.size() + 1) < 0);
        for (QChar c : name)
            FUZZ_CHECK(c.unicode() >= 0x20 && c.unicode() != 0x7F);
        m_strName = name;
        m_nSize = nSize;
        m_nWritten = 0;
        m_bOpen = true;
        return true;
    }
    bool Write(const char* p, qint64 n, QString* pError) override
    {
        Q_UNUSED(p);
        Q_UNUSED(pError);
        FUZZ_CHECK(m_bOpen);
        FUZZ_CHECK(n > 0 && n <= 1024);
        m_nWritten += n;
        m_nAllWritten += n;
        FUZZ_CHECK(m_nSize < 0 || m_nWritten <= m_nSize);
        return true;
    }
    bool Commit(QString* pError) override
    {
        Q_UNUSED(pError);
        FUZZ_CHECK(m_bOpen);
        FUZZ_CHECK(m_nSize < 0 || m_nWritten == m_nSize);
        m_bOpen = false;
        return true;
    }
    void Discard() override
    {
        FUZZ_CHECK(m_bOpen);
        m_bOpen = false;
    }
    QString StoredName() const override { return m_strName; }

    qint64 AllWritten() const { return m_nAllWritten; }
    bool IsOpen() const { return m_bOpen; }

private:
    QString m_strName;
    qint64 m_nSize = -1;
    qint64 m_nWritten = 0;
    qint64 m_nAllWritten = 0;
    bool m_bOpen = false;
};

void CheckOutput(const QByteArray& out)
{
    for (char c : out)
        FUZZ_CHECK(c == Xfer::kCrcRequest || c == Xfer::kNak || c == Xfer::kAck ||
                   c == Xfer::kCan || c == Xfer::kBs);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize < 1)
        return 0;
    const XferProtocol protocols[] = {XferProtocol::Xmodem, XferProtocol::XmodemCrc,
                                      XferProtocol::Xmodem1k, XferProtocol::Ymodem};
    CXferTimings timings;
    timings.nStartMs = 5000;
    timings.nRequestMs = 500;
    timings.nAnswerMs = 1000;
    timings.nByteGapMs = 100;
    CCheckedTarget target;
    CXmodemReceiver receiver(protocols[pData[0] % 4], &target, timings);
    QByteArray out;
    qint64 nNow = 0;
    receiver.Start(nNow, &out);
    CheckOutput(out);

    qint64 nFed = 0;
    size_t nPos = 1;
    while (nPos + 4 <= nSize) {
        const size_t nLen = pData[nPos] | size_t(pData[nPos + 1]) << 8;
        const qint64 nStep = pData[nPos + 2] | qint64(pData[nPos + 3]) << 8;
        nPos += 4;
        const size_t nTake = nLen < nSize - nPos ? nLen : nSize - nPos;
        // The time passes first, with the deadlines it brings.
        const qint64 nThen = nNow + nStep;
        while (receiver.NextDeadline() <= nThen) {
            nNow = receiver.NextDeadline();
            out.clear();
            receiver.Tick(nNow, &out);
            CheckOutput(out);
        }
        nNow = nThen;
        out.clear();
        receiver.Receive(reinterpret_cast<const char*>(pData + nPos), qsizetype(nTake), nNow, &out);
        CheckOutput(out);
        nFed += qint64(nTake);
        nPos += nTake;
        FUZZ_CHECK(target.AllWritten() <= nFed);
        FUZZ_CHECK(receiver.NextDeadline() > nNow || receiver.IsFinished());
    }

    // Nothing more comes: the deadlines end the transfer.
    for (int nStep = 0; nStep < 1000 && !receiver.IsFinished(); ++nStep) {
        FUZZ_CHECK(receiver.NextDeadline() != CXferEngine::kNoDeadline);
        nNow = qMax(nNow, receiver.NextDeadline());
        out.clear();
        receiver.Tick(nNow, &out);
        CheckOutput(out);
    }
    FUZZ_CHECK(receiver.IsFinished());
    FUZZ_CHECK(!receiver.Message().isEmpty());
    FUZZ_CHECK(!target.IsOpen());
    return 0;
}
