#pragma once
// The inside of a port object: its I/O thread, the back end living on it and
// the queue of bytes waiting to be written.

#include "CKrCommBackend.h"
#include "CKrCommConfig.h"

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QThread>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>

class CKrCommPort;

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
    void StartThread();
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
    QObject* m_pWorker = nullptr;               // lives on m_thread; runs the queued calls
    std::unique_ptr<CKrCommBackend> m_pBackend; // I/O thread only

    mutable QMutex m_mutex; // guards the members below
    std::deque<QByteArray> m_queue;
    qint64 m_nFrontOffset = 0; // bytes of m_queue.front() already sent
    bool m_bOpen = false;
    QString m_strLastError;
    CKrCommConfig m_openConfig;

    std::atomic<qint64> m_nPending{0};
    std::atomic<bool> m_bPoked{false};
};
