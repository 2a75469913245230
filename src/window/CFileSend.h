#pragma once
// The Terminal window's file send: the file is read and handed to the port
// on a thread of its own, never the user-interface thread. It also keeps the
// Tx figure true for its bytes: what it takes back from the port's queue, and
// what a close or a loss dropped unsent, come off Tx again. A file up to the
// port's queue (64 MiB) is read whole and written at once, as one block; a
// larger one, or what the port could not take at once, streams from the file
// piece by piece as the port takes it, so that memory stays bounded whatever
// the file's size. The status bar shows the progress over every send still
// draining, and how much went out when a send is stopped.
//
// Threads: lives on the user-interface thread, where every public call is
// made and the status is shown. The sending thread calls only
// CFileSendLink::SendFilePiece and PendingFileBytes, and never waits for the
// user-interface thread.

#include "CFileSendLink.h"
#include "KrCoalescedCall.h"
#include <QObject>
#include <QString>
#include <QTimer>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class CFileSend : public QObject
{
    Q_OBJECT
public:
    // The piece read and written at a time, and how much may wait at the
    // port before the next piece is read.
    static constexpr qint64 kPiece = 1024 * 1024;
    static constexpr qint64 kLowWater = 4 * 1024 * 1024;

    CFileSend(CFileSendLink& link, qint64 nWholeLimit, QObject* pParent = nullptr);
    // Stops what is being sent; waits at most for one piece being read.
    ~CFileSend() override;

    // Sends the file at `path`, of nSize bytes when it was chosen. Sends
    // follow each other in order.
    void Send(const QString& path, qint64 nSize);
    // True while a file larger than the port's queue is being read piece by
    // piece.
    bool IsStreaming() const { return m_bStreaming.load(); }
    // A send is under way or its bytes still drain at the port.
    bool IsActive() const { return m_timer.isActive(); }
    // Stops what is still to be sent and drops what waits at the port; the
    // status says how many bytes went out. Nothing happens when nothing is
    // being sent.
    void Stop();
    // As the program ends: tells the sending thread to stop, without waiting
    // for it (the destructor does), and shows nothing more.
    void Cancel();

Q_SIGNALS:
    // The status bar's progress text (empty when nothing is to be shown).
    void Status(const QString& text);
    // A file could not be read or the sending thread not started: the
    // message for the user.
    void Failed(const QString& message);

private:
    struct Job
    {
        QString strPath;
        qint64 nSize = 0;
    };

    void Run();
    bool SendFile(const Job& job, QString* pError);
    bool WaitForRoom();
    void ThreadEnded();
    void Update();
    QString StoppedText(qint64 nOut, const QString& why) const;
    // Takes what the port dropped off what went (and the link off Tx).
    void TakeDropped();
    // The file bytes that left or will leave: taken by the port, less what
    // a close or a loss dropped since the progress began.
    qint64 BytesOut(qint64 nTaken) const { return nTaken - m_nDropped; }
    void ShowStatus(const QString& text);
    void Finish(const QString& text);

    CFileSendLink& m_link;
    const qint64 m_nWholeLimit;
    QTimer m_timer;
    KrCoalescedCall m_ended{this, [this] { ThreadEnded(); }}; // the thread's end, told here
    qint64 m_nTotal = 0;                                      // bytes of the sends in progress
    qint64 m_nDropped = 0; // file bytes the port dropped since the progress began
    bool m_bCancelled = false;

    std::thread m_thread;
    std::mutex m_mutex; // guards the members below
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;
    bool m_bRunning = false; // the thread takes jobs
    bool m_bCancel = false;
    QString m_strError;              // why the last job ended early
    QString m_strReadFailure;        // a file that could not be read, for the user
    std::atomic<qint64> m_nTaken{0}; // taken by the port in the sends in progress
    std::atomic<bool> m_bStreaming{false};
};
