#pragma once
// A private desktop for suites that start the real program with its
// windows: an X server (Xvfb), a session bus and the accessibility bus with
// assistive technology announced, each started here and ended by its own
// process. tests/a11y/drive.py then works the program's window as a screen
// reader user would. Test thread only; every wait is bounded. WhyNot() names
// what is missing; scripts/deps.sh --test installs it.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

class PrivateDesktop
{
public:
    PrivateDesktop() { m_strWhyNot = Start(); }
    ~PrivateDesktop()
    {
        // The accessibility bus's own daemon and registry end with its launcher.
        for (QProcess* p : {&m_a11y, &m_x, &m_bus}) {
            if (p->state() == QProcess::NotRunning)
                continue;
            p->terminate();
            if (!p->waitForFinished(5000)) {
                p->kill();
                p->waitForFinished(5000);
            }
        }
    }
    PrivateDesktop(const PrivateDesktop&) = delete;
    PrivateDesktop& operator=(const PrivateDesktop&) = delete;

    // Empty when the desktop is up; otherwise why not.
    QString WhyNot() const { return m_strWhyNot; }
    // Whether that is a tool that is not installed.
    bool ToolsMissing() const { return m_bToolsMissing; }

    // For a program shown on this desktop.
    QProcessEnvironment Environment() const { return m_env; }

    // The X server dies under whatever runs on it (SIGKILL, as a crash or a
    // lost remote session ends it).
    void KillDisplay()
    {
        m_x.kill();
        m_x.waitForFinished(5000);
    }

    // Starts drive.py STEP on process `pid` and returns the first line it
    // prints ("FAIL: why" when it fails or says nothing within 30 s). The
    // driver may go on (the "box" step); `driver` owns it.
    QString Drive(QProcess& driver, qint64 pid, const QStringList& step) const
    {
        driver.setProcessEnvironment(m_env);
        driver.start(QStringLiteral("/usr/bin/python3"),
                     QStringList{QStringLiteral(VORNTERM_SOURCE_DIR "/tests/a11y/drive.py"),
                                 QString::number(pid)} +
                         step);
        QDeadlineTimer deadline(30000);
        while (!driver.canReadLine() && !deadline.hasExpired() &&
               driver.state() != QProcess::NotRunning)
            driver.waitForReadyRead(100);
        if (!driver.canReadLine())
            return QStringLiteral("FAIL: no answer; ") + driver.readAllStandardError();
        return QString::fromUtf8(driver.readLine()).trimmed();
    }

private:
    // Runs a short command on this desktop's bus; true when it succeeded.
    bool Run(const QString& program, const QStringList& args, QByteArray* pOut = nullptr) const
    {
        QProcess p;
        p.setProcessEnvironment(m_env);
        p.start(program, args);
        const bool bOk =
            p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        if (pOut)
            *pOut = p.readAllStandardOutput();
        return bOk;
    }

    // Starts `p` and returns the first line it prints, empty after 20 s.
    static QByteArray FirstLine(QProcess& p, const QString& program, const QStringList& args)
    {
        p.start(program, args);
        QDeadlineTimer deadline(20000);
        while (!p.canReadLine() && !deadline.hasExpired() && p.state() != QProcess::NotRunning)
            p.waitForReadyRead(100);
        return p.canReadLine() ? p.readLine().trimmed() : QByteArray();
    }

    QString Start()
    {
        const QString launcher = QStringLiteral("/usr/libexec/at-spi-bus-launcher");
        QStringList missing;
        for (const char* tool : {"Xvfb", "dbus-daemon", "dbus-send"})
            if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
                missing << QLatin1String(tool);
        if (!QFileInfo(launcher).isExecutable())
            missing << launcher;
        if (QProcess::execute(QStringLiteral("/usr/bin/python3"),
                              {QStringLiteral("-c"), QStringLiteral("import pyatspi")}) != 0)
            missing << QStringLiteral("python3-pyatspi");
        m_bToolsMissing = !missing.isEmpty();
        if (m_bToolsMissing)
            return QStringLiteral("missing ") + missing.join(QStringLiteral(", "));

        const QByteArray bus = FirstLine(m_bus, QStringLiteral("dbus-daemon"),
                                         {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                          QStringLiteral("--print-address=1")});
        if (bus.isEmpty())
            return QStringLiteral("the session bus did not start: ") + m_bus.readAllStandardError();
        // Xvfb prints the display it took once it takes connections.
        const QByteArray display =
            FirstLine(m_x, QStringLiteral("Xvfb"),
                      {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                       QStringLiteral("0"), QStringLiteral("1024x768x24"),
                       QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        if (display.isEmpty())
            return QStringLiteral("Xvfb did not start: ") + m_x.readAllStandardError();

        m_env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"AT_SPI_BUS_ADDRESS", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON",
                                 "QT_ACCESSIBILITY", "WAYLAND_DISPLAY"})
            m_env.remove(QLatin1String(name));
        m_env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":") + display);
        m_env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromUtf8(bus));
        m_env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
        m_env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));

        m_a11y.setProcessEnvironment(m_env);
        m_a11y.start(launcher, {QStringLiteral("--launch-immediately")});
        const QStringList hasOwner{QStringLiteral("--session"),
                                   QStringLiteral("--print-reply"),
                                   QStringLiteral("--dest=org.freedesktop.DBus"),
                                   QStringLiteral("/"),
                                   QStringLiteral("org.freedesktop.DBus.NameHasOwner"),
                                   QStringLiteral("string:org.a11y.Bus")};
        QByteArray reply;
        QDeadlineTimer deadline(10000);
        while (!(Run(QStringLiteral("dbus-send"), hasOwner, &reply) && reply.contains("true"))) {
            if (deadline.hasExpired())
                return QStringLiteral("the accessibility bus did not start");
            QThread::msleep(100);
        }
        // What a screen reader does when it starts: tell the toolkits it is there.
        if (!Run(QStringLiteral("dbus-send"),
                 {QStringLiteral("--session"), QStringLiteral("--print-reply"),
                  QStringLiteral("--dest=org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                  QStringLiteral("org.freedesktop.DBus.Properties.Set"),
                  QStringLiteral("string:org.a11y.Status"), QStringLiteral("string:IsEnabled"),
                  QStringLiteral("variant:boolean:true")}))
            return QStringLiteral("assistive technology could not be announced");
        return QString();
    }

    QProcess m_bus;
    QProcess m_x;
    QProcess m_a11y;
    QTemporaryDir m_runtime;
    QProcessEnvironment m_env;
    QString m_strWhyNot;
    bool m_bToolsMissing = false;
};
