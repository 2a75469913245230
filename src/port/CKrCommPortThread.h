#pragma once
// The inside of a port object: its I/O thread, the back end living on it and
// the queue of bytes waiting to be written.

#include "CKrCommBackend.h"
#include "CKrCommConfig.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class CKrCommPort;
class CKrCommPortThread;

// Lives on the I/O thread and runs what other threads hand it. It is woken by
// name, without a functor, so everything handed over passes through our own
// lock and the thread sanitizer can see the hand-over.
class CKrCommPortWorker : public QObject
{
    Q_OBJECT
public:
    explicit CKrCommPortWorker(CKrCommPortThread& owner) : m_owner(owner) {}

    Q_INVOKABLE void RunJobs();
    Q_INVOKABLE void Drain();

private:
    CKrCommPortThread& m_owner;
};

class CKrCommPortThread : private CKrCommBackendSink
{
public:
    explicit CKrCommPortThread(CKrCommPort& port);
    ~CKrCommPortThread();

    // Called from the owner's thread; they wait for the I/O thread.
    bool Open(const CKrCommConfig& config);
    void Close();
    // Ends the I/O thread: no receiver call follows its return. Open starts a
    // new one.
    void Shutdown();

    // Any thread.
    int Write(const char* pData, qint64 nLength);
    qint64 PendingCount() const { return m_nPending.load(); }
    bool IsOpen() const;
    QString LastError() const;
    CKrCommConfig OpenConfig() const;

private:
    friend class CKrCommPortWorker;
    struct Job
    {
        std::function<void()> fn;
        bool bDone = false;
    };

    void StartThread();
    void RunJobs();
    void RunOnThread(const std::function<void()>& fn);
    void Poke();

    // I/O thread.
    bool DoOpen(const CKrCommConfig& config, QString* why);
    void DoClose();
    void DisposeBackend();
    void Drain();

    void BackendReceived(const char* pData, int nLength) override;
    void BackendWritten(qint64 nCount) override;
    void BackendReady() override;
    void BackendFailed(const QString& why) override;

    CKrCommPort& m_port;
    QThread m_thread;
    CKrCommPortWorker* m_pWorker = nullptr; // lives on m_thread; runs the queued calls
    std::unique_ptr<CKrCommBackend> m_pBackend; // I/O thread only

    std::mutex m_jobMutex; // guards m_jobs and every Job::bDone
    std::condition_variable m_jobDone;
    std::deque<Job*> m_jobs;

    mutable std::mutex m_mutex; // guards the members below
    std::deque<QByteArray> m_queue;
    qint64 m_nFrontOffset = 0; // bytes of m_queue.front() already sent
    bool m_bOpen = false;
    QString m_strLastError;
    CKrCommConfig m_openConfig;

    std::atomic<qint64> m_nPending{0};
    std::atomic<bool> m_bPoked{false};
};
