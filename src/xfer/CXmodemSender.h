#pragma once
// Sends files with XMODEM, XMODEM-CRC, XMODEM-1K or YMODEM.
//
// The receiver decides the check: 'C' asks for the CRC, NAK for the 8-bit
// sum (and then every block goes with 128 bytes, which any receiver takes).
// Each block waits for its ACK; a NAK or the answer's deadline sends it
// again, up to CXferTimings::nMaxTries sends. What a request ('C' or NAK)
// asks for goes nRequestDelayMs after it, as many receivers discard what
// arrives right after they asked; a block that answered a request ('C') is
// sent again at the next one. A file ends with EOT, sent
// again until it is acknowledged (the usual NAK first and ACK second is
// expected). The last block is padded with SUB (0x1A); in YMODEM block 0
// carries the size, so the receiver cuts the padding, and a remainder of
// 128 bytes or less goes as a 128-byte block. YMODEM's batch ends with an
// empty block 0.
//
// Bytes that came in the same piece as the answer to a data block are older
// than the next block and are not taken as its answer (a stale ACK would
// otherwise let a block go unreceived); CAN among them still counts.
//
// The next data blocks can be read and framed ahead (AnswersAhead), so that
// a caller on another thread can send each of them the moment its ACK comes
// and feed the ACK in later: Receive() then appends the very block that went.
//
// Any single thread; not thread-safe. See CXferEngine for how it is driven.

#include "CXferEngine.h"
#include "XferFiles.h"

#include <deque>
#include <vector>

class CXmodemSender : public CXferEngine
{
public:
    // vSources: the files in order (XMODEM sends exactly one). Not owned:
    // they must outlive the sender.
    CXmodemSender(XferProtocol eProtocol, std::vector<CXferSource*> vSources,
                  const CXferTimings& timings = CXferTimings());

    void Start(qint64 nNowMs, QByteArray* pOut) override;
    void Receive(const char* p, qsizetype n, qint64 nNowMs, QByteArray* pOut) override;
    using CXferEngine::Receive;

    // What the receiver asked for: the CRC (true) or the 8-bit sum. Known once
    // the first block went.
    bool UsesCrc() const { return m_bCrc; }

    // The data blocks the next answers get, read from the file and framed
    // ahead: while the sender waits for the answer to a data block with
    // nothing else due, the k-th of them is what Receive() appends when the
    // k-th piece to come is a lone ACK. At most nMax; fewer towards the
    // file's end (its EOT is never among them), and none at any other time.
    // A block is read once, however often it is asked for; a read that fails
    // ends the list, and the send that needs the block fails with its error.
    std::vector<QByteArray> AnswersAhead(int nMax);

protected:
    void OnDeadline(qint64 nNowMs, QByteArray* pOut) override;

private:
    enum class Wait
    {
        Start,         // for the receiver's first 'C' or NAK
        DataRequest,   // YMODEM: for the 'C' that asks for a file's data after its header
        HeaderRequest, // YMODEM: for the 'C' that asks for the header ready in m_baBlock
        Answer,        // for the answer to the block in m_baBlock
        Eot            // for the answer to EOT
    };
    enum class Kind
    {
        Header, // YMODEM block 0 of a file
        Data,
        End // YMODEM's empty block 0
    };

    // What a request asked for, sent once nRequestDelayMs have passed.
    enum class Pending
    {
        None,
        Begin,     // the first block of all
        FirstData, // YMODEM: a file's first data block
        Header,    // YMODEM: the header in m_baBlock
        Again      // m_baBlock or EOT again
    };

    // Handles one byte; true when the rest of the piece is to be ignored.
    bool Take(char c, qint64 nNowMs, QByteArray* pOut);
    void Schedule(Pending ePending, qint64 nNowMs, QByteArray* pOut, bool bAfterQuiet = false);
    void Act(qint64 nNowMs, QByteArray* pOut);
    // The first block after the receiver's first request.
    void Begin(qint64 nNowMs, QByteArray* pOut);
    // The file's next data block, or EOT after the last.
    void SendNextData(qint64 nNowMs, QByteArray* pOut);
    // The file's EOT was acknowledged: the next header, or the end.
    void FileDone(qint64 nNowMs, QByteArray* pOut);
    // Block 0 of the current file, or the empty one after the last file.
    bool MakeHeader(QString* pError);
    bool MakeData(QString* pError);
    // Reads and frames the block after those read ahead.
    bool ReadAhead(QString* pError);
    QByteArray Frame(int nNumber, const QByteArray& data) const;
    // Sends m_baBlock, or EOT, a first time.
    void Send(qint64 nNowMs, QByteArray* pOut);
    void SendEot(qint64 nNowMs, QByteArray* pOut);
    // Sends it again after a NAK (bTimeout false) or a deadline, unless its
    // tries are spent.
    void Retry(bool bTimeout, qint64 nNowMs, QByteArray* pOut);
    void SetFile(int nFile);
    void Done(qint64 nNowMs, const QString& strNote = QString());
    // "block 37 of firmware.bin", "the header of firmware.bin", ...
    QString What() const;
    CXferSource* Source() const { return m_vSources[size_t(m_nFile)]; }

    std::vector<CXferSource*> m_vSources;
    Wait m_eWait = Wait::Start;
    Kind m_eKind = Kind::Header;
    bool m_bCrc = true;
    bool m_bBig = false; // 1024-byte blocks allowed
    int m_nFile = 0;
    qint64 m_nBlock = 0;            // the file's block in m_baBlock, counted from 1
    qint64 m_nBlockBytes = 0;       // file bytes in m_baBlock
    qint64 m_nRead = 0;             // bytes of the file read so far
    int m_nTries = 0;               // sends of m_baBlock (or EOT)
    bool m_bEotNakSeen = false;     // the usual NAK to the first EOT came
    bool m_bAnswersRequest = false; // m_baBlock went because the receiver asked for it
    Pending m_ePending = Pending::None;
    bool m_bAfterQuiet = false; // m_ePending waits for the receiver's quiet
    QByteArray m_baBlock;
    // The file's next blocks, framed, with the file bytes in each.
    struct SAhead
    {
        QByteArray block;
        qint64 nBytes = 0;
    };
    std::deque<SAhead> m_ahead;
    qint64 m_nAheadBytes = 0; // file bytes in m_ahead
    QString m_strAheadError;  // a read ahead failed: the send of its block fails with this
};
