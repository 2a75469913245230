#pragma once
// The Terminal window's receiver: the port calls it, on the port's I/O
// thread, with every block it reads and its arrival time, and tells it of
// the port's events (it is the port's state listener, and passes the state
// on). It knows its owner only through CReceiveOwner.

#include "CInputLog.h"
#include "CKrCommPortStatus.h"
#include "CKrCommReceiver.h"
#include "CReceiveOwner.h"
#include "CXferLink.h"

#include <mutex>

class CReceiveSink : public CKrCommReceiver, public CKrCommPortListener
{
public:
    CReceiveSink();
    ~CReceiveSink() override;

    void SetOwner(CReceiveOwner* pOwner) { m_pOwner = pOwner; }
    // Where the port's state goes on to (the caption). Set before the port
    // is opened.
    void PassStatusTo(CKrCommPortListener* pNext) { m_pNext = pNext; }
    // While a transfer runs, received blocks go to its tap instead of the
    // owner (the log still gets them); nullptr ends it, and once that
    // returns the old tap is called no more. Any thread.
    void SetTap(CXferLink::Tap* pTap);

    // A block without its times is stamped as it is handed over.
    void OnReceive(const char* pData, int nLength) override;
    // The block as the port delivers it, with the times it was read: unless
    // the counter data runs it goes to the owner's AppendText, and with "Log
    // Input Data" checked to WriteInputLog. The buffer copies it once and
    // keeps its times, the log shares it.
    void OnReceive(const QByteArray& block, const KrBlockTimes& times) override;

    void OnPortStatus(const CKrCommPortStatus& status) override;
    // The event goes to the window (shown with the arrival times) and, with
    // "Log Input Data" checked, to the log's timing index.
    void OnPortEvent(const KrPortEvent& event) override;
    // A change of an open port's control lines, or its break begun or
    // ended, goes the same way as a line change or break event.
    void OnPortLines(const KrLineEvent& event) override;

    // Hands the block and its times to the day's log, whose own thread
    // writes it; never waits for the disk. Blocks that cannot be written wait
    // in the log's queue and go out, in order, once the file can be written.
    // False when bytes had to be dropped.
    bool WriteInputLog(const QByteArray& block, const KrBlockTimes& times);

    CInputLog& InputLog() { return m_log; }

private:
    CReceiveOwner* m_pOwner = nullptr;
    std::mutex m_tapMutex; // guards m_pTap; held while the tap takes a block
    CXferLink::Tap* m_pTap = nullptr;
    CKrCommPortListener* m_pNext = nullptr;
    KrLines m_linesHeard; // the lines the port told last; its I/O thread only
    CInputLog m_log;
};
