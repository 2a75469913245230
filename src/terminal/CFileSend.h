#pragma once
// The Terminal window's file send beyond one Write: the progress shown while
// the port drains what it took, and the streaming of a file that does not fit
// the port's queue at once (larger than 64 MiB, or sent while much still
// waits), read piece by piece as the port takes it, so that memory stays
// bounded whatever the file's size.
//
// Threads: lives on the user-interface thread, where every public call is
// made. A stream runs on a thread of its own, which reads the file and hands
// each piece to SendPiece; it never waits for the user-interface thread.

#include <QObject>
#include <QString>
#include <QTimer>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class CFileSend : public QObject
{
    Q_OBJECT
public:
    struct Hooks
    {
        // Writes one piece to the port, counts what it took, sets the echo
        // gate and echoes it. Returns the bytes the port took, or -1 when the
        // port is not open. Called on the stream's thread.
        std::function<qint64(const QByteArray& piece)> sendPiece;
        // Bytes the port has not handed to the device yet; -1 when the port
        // is not open. Any thread.
        std::function<qint64()> pending;
        // Sets the status bar's progress text. User-interface thread.
        std::function<void(const QString& text)> showStatus;
    };

    // The piece read and written at a time, and how much may wait at the
    // port before the next piece is read.
    static constexpr qint64 kPiece = 1024 * 1024;
    static constexpr qint64 kLowWater = 4 * 1024 * 1024;

    explicit CFileSend(Hooks hooks, QObject* pParent = nullptr);
    // Stops a stream; waits at most for one piece being read.
    ~CFileSend() override;

    // nAccepted bytes of a file of nSize went to the port: the progress
    // follows them, over every send still draining. When that is not the
    // whole file, the rest streams from `path`.
    void Sent(qint64 nSize, qint64 nAccepted, const QString& path = QString());
    bool IsStreaming() const { return m_thread.joinable(); }
    // Stops what is still to be sent; the caller closes the port, which drops
    // what waits there. The status says how many bytes went out. Nothing
    // happens when nothing is being sent.
    void Stop();

    // The progress text now, for tests.
    QString StatusText() const { return m_strStatus; }

private:
    void Run(const QString& path, qint64 nOffset);
    void StreamEnded();
    void Update();
    void ShowStatus(const QString& text);
    void Finish(const QString& text);

    Hooks m_hooks;
    QTimer m_timer;
    qint64 m_nTotal = 0;    // bytes of the sends in progress
    qint64 m_nAccepted = 0; // of which the port took so far (the stream adds too)
    qint64 m_nLastPending = 0;
    QString m_strStatus;

    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_bCancel = false;
    std::atomic<qint64> m_nStreamed{0}; // taken by the port from the stream
    QString m_strStreamError;           // why the stream ended early; under m_mutex
};
