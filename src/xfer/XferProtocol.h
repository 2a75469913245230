#pragma once
// What the XMODEM and YMODEM engines share: the protocols, the wire's control
// bytes, the timings a caller may choose, the progress a window shows and the
// block checks (8-bit sum, CRC-16 with polynomial 0x1021 and start 0).
//
// Plain values and functions: any thread.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

enum class XferProtocol
{
    Xmodem,    // 128-byte blocks; a receiver asks for the 8-bit sum
    XmodemCrc, // 128-byte blocks; a receiver asks for the CRC, the sum after 3 requests
    Xmodem1k,  // 1024-byte blocks with the CRC (128-byte blocks with the sum to a receiver
               // that asks for it)
    Ymodem     // a batch of named files: block 0 carries the name, size and time
};

// "XMODEM", "XMODEM-CRC", "XMODEM-1K", "YMODEM".
QString XferProtocolName(XferProtocol eProtocol);

namespace Xfer {
constexpr char kSoh = 0x01; // a 128-byte block follows
constexpr char kStx = 0x02; // a 1024-byte block follows
constexpr char kEot = 0x04; // the file ends
constexpr char kAck = 0x06;
constexpr char kNak = 0x15; // "again", and the request for blocks with the sum
constexpr char kCan = 0x18; // two or more in a row end the transfer
constexpr char kSub = 0x1A; // the padding of a file's last block
constexpr char kBs = 0x08;
constexpr char kCrcRequest = 'C';
// The user's cancel: this many CAN, then as many backspaces to rub them out
// of a command line that the other side may fall back to.
constexpr int kCancelBytes = 8;
} // namespace Xfer

// How long each wait lasts. Every wait of an engine ends by one of these, so a
// silent or babbling peer ends a transfer in bounded time. Milliseconds.
struct CXferTimings
{
    // Sender: how long the receiver may take to ask for the first block.
    // Receiver: how long the sender may take to send its first block.
    int nStartMs = 60000;
    // Receiver: time between its requests ('C' or NAK) while it waits to begin.
    int nRequestMs = 3000;
    // Sender: how long one try of a block waits for its answer.
    // Receiver: how long it waits for the next block before asking again.
    int nAnswerMs = 10000;
    // Sender: how long after a request ('C' or NAK) the block asked for goes;
    // many receivers discard what arrives right after they asked.
    int nRequestDelayMs = 50;
    // Sender: a block asked for again a second time goes only once the
    // receiver has been quiet this long (each request meanwhile starts the
    // wait again). A receiver that lost the start of a block discards until
    // its line is quiet; a resend that reaches it while it still discards is
    // taken in part for the next block's start, and asked for again, each
    // time, until the tries run out.
    int nQuietAgainMs = 1000;
    // Receiver: the longest silence inside a block, and the quiet that ends
    // the discarding of a damaged block before it asks again.
    int nByteGapMs = 1000;
    // Tries of one block (sender) or requests for one block (receiver).
    int nMaxTries = 10;
    // Receiver of XMODEM-CRC and XMODEM-1K: 'C' requests before it asks
    // with NAK for the 8-bit sum instead.
    int nCrcRequests = 3;
};

// Where a transfer stands, for the window's progress line.
struct CXferProgress
{
    QString strProtocol;   // XferProtocolName()
    QString strFile;       // the current file's name; empty before it is known
    int nFile = 0;         // the current file, counted from 1; 0 before the first
    int nFiles = -1;       // the files of the batch; -1 when not known (receiving)
    qint64 nFileDone = 0;  // bytes of the current file acknowledged (sent) or stored (received)
    qint64 nFileSize = -1; // the current file's size; -1 when not known
    qint64 nDone = 0;      // bytes of every file so far
    qint64 nTotal = -1;    // bytes of the whole batch; -1 when not known
    int nRetries = 0;      // blocks sent or asked for again
    qint64 nStartMs = -1;  // when the first block was sent or came; -1 before
};

enum class XferEnd
{
    Running,
    Ok,       // every file complete
    Failed,   // the peer cancelled or fell silent, a block could not go, a file failed
    Cancelled // the user's cancel
};

// 1234567 as "1,234,567".
QString XferFigure(qint64 n);

// "412,160 / 1,048,576 bytes, 11.2 KB/s, 2 retries" headed by protocol and
// file ("YMODEM: firmware.bin "), for a progress line at nNowMs.
QString XferProgressText(const CXferProgress& progress, qint64 nNowMs);

// The 8-bit sum and the CRC-16 of a block's data.
quint8 XferChecksum(const char* p, qsizetype n);
quint16 XferCrc16(const char* p, qsizetype n);
