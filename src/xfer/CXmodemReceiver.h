#pragma once
// Receives files with XMODEM (any of its block sizes and checks) or YMODEM.
//
// It asks with 'C' for the CRC; XMODEM-CRC and XMODEM-1K fall back to NAK
// (the 8-bit sum) after CXferTimings::nCrcRequests requests unanswered,
// plain XMODEM asks with NAK from the start, YMODEM always with 'C'. Blocks
// of 128 (SOH) and 1024 (STX) bytes are taken in every mode; a first block
// that carries a CRC although the sum was asked for is recognised. Each block
// is checked (its number, the number's complement, the CRC or sum) and
// written to the target before its ACK; the previous block sent again is
// acknowledged without being written twice. A damaged block, or noise where
// a block should begin, is discarded until the line has been quiet for
// nByteGapMs, then asked for again with NAK. An EOT is answered with NAK and
// taken when it comes a second time (or when the line stays silent after the
// NAK).
//
// YMODEM: block 0 gives the name (the target decides what it is stored
// under), the size, which cuts the last block's padding, and the time. A file
// that ends short of its size fails. The empty block 0 ends the batch.
// XMODEM sends no size: the file keeps the last block's padding (SUB, 0x1A),
// as no receiver can tell padding from data.
//
// Any single thread; not thread-safe. See CXferEngine for how it is driven.

#include "CXferEngine.h"
#include "XferFiles.h"

class CXmodemReceiver : public CXferEngine
{
public:
    // pTarget: not owned; it must outlive the receiver.
    CXmodemReceiver(XferProtocol eProtocol, CXferTarget* pTarget,
                    const CXferTimings& timings = CXferTimings());

    void Start(qint64 nNowMs, QByteArray* pOut) override;
    void Receive(const char* p, qsizetype n, qint64 nNowMs, QByteArray* pOut) override;
    using CXferEngine::Receive;

    // Whether blocks are checked by the CRC (true) or the 8-bit sum.
    bool UsesCrc() const { return m_bCrc; }
    // The files received completely.
    int Files() const { return m_nFiles; }

protected:
    void OnDeadline(qint64 nNowMs, QByteArray* pOut) override;
    void OnAbort() override;

private:
    enum class State
    {
        Idle,  // waiting for a block, EOT or CAN
        Block, // inside a block
        Purge, // discarding until the line is quiet
        Eot    // EOT answered with NAK, waiting for it again
    };
    enum class Why
    {
        Silent,
        Damaged
    };

    void Idle(char c, qint64 nNowMs, QByteArray* pOut);
    void CheckBlock(qint64 nNowMs, QByteArray* pOut);
    void Accept(const char* pData, int nLen, qint64 nNowMs, QByteArray* pOut);
    void Header(const char* pData, int nLen, qint64 nNowMs, QByteArray* pOut);
    bool Write(const char* pData, qint64 nLen, QByteArray* pOut);
    void OnEot(qint64 nNowMs, QByteArray* pOut);
    void EndOfFile(qint64 nNowMs, QByteArray* pOut);
    void StartPurge(qint64 nNowMs);
    // The block did not come (or came damaged): asks again, unless the
    // tries are spent.
    void Retry(Why eWhy, qint64 nNowMs, QByteArray* pOut);
    // The request while no block came yet: 'C' or NAK.
    void Request(qint64 nNowMs, QByteArray* pOut);
    void Done(qint64 nNowMs);
    QString What() const;

    CXferTarget* m_pTarget;
    State m_eState = State::Idle;
    bool m_bYmodem;
    bool m_bStarting = true;   // no block has come yet
    bool m_bCrc = true;        // the check asked for
    bool m_bAskedCrc = false;  // a 'C' went out at some time
    bool m_bTryingCrc = false; // the current block is read again with a CRC
    bool m_bFileOpen = false;  // the target holds a begun file
    bool m_bAwaitData = false; // YMODEM: a header was acknowledged, no data yet
    int m_nRequests = 0;       // requests while starting
    qint64 m_nStartEndMs = 0;  // when starting gives up
    qint64 m_nPurgeEndMs = 0;  // when a purge ends even if the noise goes on
    qint64 m_nExpected = 0;    // the block wanted next, counted from 0 or 1 in the file
    int m_nTries = 0;          // requests for the wanted block
    int m_nRepeats = 0;        // the previous block sent again
    int m_nNeed = 0;           // bytes of the block being read, header and check included
    QByteArray m_baBlock;
    qint64 m_nFileSize = -1;
    int m_nFiles = 0;
    QString m_strNotes;
    QString m_strLastFile;
};
