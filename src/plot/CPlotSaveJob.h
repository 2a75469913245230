#pragma once
// Writes one export of the plot (CSV, picture) to a file on a thread of its
// own, "VornPlotSave", so that a slow disk never holds the window: the
// window hands it everything the file is made from (a copy of the store, an
// image), and hears the outcome through Finished. One file at a time.
//
// Start, IsRunning and Wait on the user-interface thread, where Finished
// comes; the write function runs on the job's thread and must use only what
// it was given. The destructor waits for a write under way.

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QIODevice;
class QThread;

class CPlotSaveJob : public QObject
{
    Q_OBJECT
public:
    using WriteFn = std::function<bool(QIODevice&, QString*)>;

    explicit CPlotSaveJob(QObject* pParent = nullptr);
    ~CPlotSaveJob() override;

    // Writes `path` through PlotFile::Write; false when a write is under way.
    bool Start(const QString& path, WriteFn write);
    bool IsRunning() const { return m_pThread != nullptr; }
    // Waits until the write under way ended (Finished then still comes).
    void Wait();

Q_SIGNALS:
    // The write ended: bOk, or the reason it failed.
    void Finished(const QString& path, bool bOk, const QString& reason);

private:
    struct SResult
    {
        bool bOk = false;
        QString reason;
    };
    void OnThreadFinished();

    QThread* m_pThread = nullptr;
    QString m_path;
    std::shared_ptr<SResult> m_pResult;
};
