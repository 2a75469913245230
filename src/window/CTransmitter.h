#pragma once
// Every byte the Terminal window sends goes through here: a typed character,
// a counter text, a file's pieces, a Send Bytes sequence. One send is, under
// the window's lock: the echo where it goes first (the counter's), the write
// to the port on the sender's stream, the Tx figure, the one-shot echo gate,
// the echo where it follows the write, and the news of what left (for the
// timing index). What the port dropped unsent at a close or a loss comes off
// Tx again, by whose bytes they were.
//
// Threads: Send and the Tx bookkeeping on the user-interface thread, the
// file's pieces (CFileSendLink) on the file send's thread. Each send holds
// the window's lock for its whole length and never waits for another thread
// while holding it; the window hears of a new Tx figure after the lock is
// released.

#include "CFileSendLink.h"
#include "KrTimeStamp.h"

#include <QByteArray>
#include <atomic>
#include <functional>
#include <mutex>

class CKrCommPort;

class CTransmitter : public CFileSendLink
{
public:
    // Whose bytes they are at the port (CKrCommPort's write streams).
    static constexpr int kStreamCounter = 0;
    static constexpr int kStreamTyped = 1;
    static constexpr int kStreamFile = 2;
    static constexpr int kStreamTransfer = 3;

    enum class Echo
    {
        Never,       // typed characters are never shown
        BeforeWrite, // the counter: shown, then written
        AfterWrite,  // a file, a sequence: written, then shown
    };
    struct Kind
    {
        int nStream;
        bool bCounted;      // adds to Tx
        Echo echo;          // with "Local Echo" checked
        bool bOnlyWhenOpen; // a closed port takes nothing: no count, no gate
        bool bBeep;         // ... and a beep says so (user-interface thread)
        bool bSetsGate;     // sets the one-shot echo gate
        bool bWhole;        // all of it or nothing: without room, none goes (0)
        bool bTellsTx;      // the window hears of the new Tx figure at once
    };
    static constexpr Kind kTyped{kStreamTyped, true, Echo::Never, true, true, true, false, true};
    static constexpr Kind kCounter{kStreamCounter, false, Echo::BeforeWrite, false, false, true,
                                   false,          true};
    // A Send Bytes line goes whole or not at all.
    static constexpr Kind kSequence{kStreamTyped, true, Echo::AfterWrite, true, true, true,
                                    true,         true};
    // An XMODEM or YMODEM transfer's bytes: counted, never shown, the gate
    // left alone; from any thread; a block goes whole or waits for room. The
    // window is not told of each block: the transfer's progress, a few times
    // a second, shows the Tx figure with it (CXferLink::ShowTransferStatus).
    static constexpr Kind kTransfer{kStreamTransfer, true,  Echo::Never, true,
                                    false,           false, true,        false};

    // What a send needs of the window.
    class Window
    {
    public:
        virtual bool IsLocalEchoChecked() const = 0;
        // Appends the echo as AppendText does, the window's lock being held.
        virtual void AppendEchoLocked(const QByteArray& text) = 0;
        // The Tx figure changed; any thread, without the lock.
        virtual void TxChanged() = 0;

    protected:
        ~Window() = default;
    };

    // The window's lock, Tx figure and echo gate, which live as long as it.
    CTransmitter(CKrCommPort& port, std::mutex& lock, qint64& nTxCount,
                 std::atomic<bool>& bEchoPending, Window& window);

    // Sends bytes as their kind says. Returns the bytes the port took, -1
    // when it took nothing because it is not open (and the kind asks for an
    // open port). The user-interface thread; a kind that does not beep, any
    // thread.
    qint64 Send(const QByteArray& bytes, const Kind& kind);

    // Takes the typed and transfer bytes a close or a loss dropped unsent off
    // Tx (a file's are the file send's to take back); under the window's
    // lock.
    void TakeDroppedLocked();

    // Told of every byte that left, with the time the port took it, and
    // whether it continues the send before (a file's later pieces); set
    // before the port opens. Called under the window's lock: it must not
    // wait.
    using SentListener =
        std::function<void(const QByteArray& bytes, const KrTimeStamp& time, bool bContinues)>;
    void SetSentListener(SentListener listener) { m_sent = std::move(listener); }

    // CFileSendLink
    qint64 SendFilePiece(const QByteArray& bytes, bool bWhole, bool bFirst) override;
    qint64 PendingFileBytes() const override;
    qint64 DiscardFileBytes() override;
    qint64 TakeDroppedFileBytes() override;

private:
    void Uncount(qint64 nBytes);
    void EchoLocked(const QByteArray& bytes);
    void TellSent(const QByteArray& bytes, qint64 nSent, bool bContinues);

    CKrCommPort& m_port;
    std::mutex& m_lock;
    qint64& m_nTxCount;
    std::atomic<bool>& m_bEchoPending;
    Window& m_window;
    SentListener m_sent;
};
