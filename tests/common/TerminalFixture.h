#pragma once
// Shared by the Terminal window suites: a fresh current directory for the
// settings file and logs, and hooks that record every prompt instead of
// showing it.

#include "Afx.h"
#include "CInputLog.h"
#include "CStatusBarCtrl.h"
#include "CTerminalDlg.h"
#include "FileBytes.h"
#include "LogTool.h"
#include "PortHelpers.h"
#include "PtyPair.h"

#include <QBuffer>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <memory>

class TerminalFixture
{
public:
    TerminalFixture()
        : m_saved(QDir::currentPath()),
          m_hooks(AfxHooks{[this](const QString& text, int) {
                               messages.append(text);
                               if (messageHook)
                                   messageHook();
                               return IDOK;
                           },
                           [this](QDialog& dlg) { return onModal ? onModal(dlg) : IDCANCEL; },
                           [this] { ++beeps; }, [this](QWidget*) { return openFileName; },
                           [](const QString&) { return false; },
                           [this](QWidget*, const QString&) { return saveFileName; }})
    {
        QDir::setCurrent(m_dir.path());
    }
    ~TerminalFixture() { QDir::setCurrent(m_saved); }

    QString Path(const QString& name) const { return m_dir.filePath(name); }
    QString Dir() const { return m_dir.path(); }

    // A window as the program makes one: constructed, created and shown.
    std::unique_ptr<CTerminalDlg> Start()
    {
        auto dlg = std::make_unique<CTerminalDlg>();
        dlg->Create();
        dlg->show();
        return dlg;
    }

    // The settings file the window reads at start and writes at exit.
    QString SettingsPath() const { return Path(QStringLiteral("VornTerm.cfg")); }
    bool WriteSettings(const CKrCommConfig& config) const
    {
        return WriteFile(SettingsPath(), StoredConfig(config));
    }

    // The bytes logged from `since` until now: that day's log, followed by
    // the next day's when midnight passed meanwhile.
    QByteArray LoggedSince(const QDateTime& since) const
    {
        const QString first = CInputLog::FileNameFor(since);
        const QString last = CInputLog::FileNameFor(QDateTime::currentDateTime());
        return ReadFile(Path(first)) + (last == first ? QByteArray() : ReadFile(Path(last)));
    }

    // The port's events in the timing index beside the log of `day`, as
    // vornterm-log --events prints them, without their times.
    QStringList LoggedEvents(const QDateTime& day) const
    {
        QByteArray bytes;
        QBuffer out(&bytes);
        out.open(QIODevice::WriteOnly);
        QString err;
        RunLogTool({QStringLiteral("--events"), Path(CInputLog::FileNameFor(day))}, out, err);
        QStringList events;
        for (const QString& line :
             QString::fromUtf8(bytes).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            events << line.section(QStringLiteral("  "), 1);
        return events;
    }

    // Writes a file that the next file prompt picks.
    bool OfferFile(const QString& name, const QByteArray& content)
    {
        openFileName = Path(name);
        return WriteFile(openFileName, content);
    }

    QStringList messages;
    int beeps = 0;
    QString openFileName;
    QString saveFileName; // what the save prompt picks
    std::function<int(QDialog&)> onModal;
    std::function<void()> messageHook; // runs while a message "shows"

private:
    QTemporaryDir m_dir;
    QString m_saved;
    AfxScopedHooks m_hooks;
};

// The Rx figure as the status bar shows it once pending refreshes have run.
inline QString RxShown(CTerminalDlg& dlg)
{
    dlg.FlushRefresh();
    return dlg.StatusBar()->GetText(0);
}
inline QString Rx(int n)
{
    return QStringLiteral("Rx:%1").arg(n);
}

// The name of today's log, for a test that puts something in its way before
// the blocks come: in the last minute before midnight it first waits for the
// new day, so that the blocks of the next minute are received on the day the
// name is for.
inline QString TodaysLogName()
{
    const QDateTime now = QDateTime::currentDateTime();
    const qint64 nLeftMs = now.msecsTo(QDateTime(now.date().addDays(1), QTime(0, 0)));
    if (nLeftMs < 60000)
        QTest::qWait(int(nLeftMs) + 100);
    return CInputLog::FileNameFor(QDateTime::currentDateTime());
}

// Opens the window's port on the pseudo-terminal, which, unlike the loopback,
// sends nothing back by itself.
inline bool OpenOnPty(CTerminalDlg& dlg, const PtyPair& pty)
{
    dlg.Port().SetConfig(ConfigFor(pty.SlavePath()));
    return OpenSettled(dlg.Port());
}

// A started window whose port is open on a pseudo-terminal; tests check
// `opened` first.
struct PtyTerminal : TerminalFixture
{
    PtyPair pty;
    std::unique_ptr<CTerminalDlg> dlg = Start();
    const bool opened = OpenOnPty(*dlg, pty);
};
