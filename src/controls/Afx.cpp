#include "Afx.h"

#include <QAccessible>
#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <cstdio>

namespace {

AfxHooks& Hooks()
{
    static AfxHooks hooks;
    return hooks;
}

// Set on the user-interface thread; read there and, for the exit code, by main.
std::atomic<bool> g_bUnattended{false};
std::atomic<int> g_nExitCode{0};
std::atomic<int> g_nReports{0};

// Ends a wait as soon as the accessibility bridge reports itself active.
class CActivationWait : public QAccessible::ActivationObserver
{
public:
    explicit CActivationWait(QEventLoop& loop) : m_loop(loop)
    {
        QAccessible::installActivationObserver(this);
    }
    ~CActivationWait() override { QAccessible::removeActivationObserver(this); }
    CActivationWait(const CActivationWait&) = delete;
    CActivationWait& operator=(const CActivationWait&) = delete;

    void accessibilityActiveChanged(bool bActive) override
    {
        // Called just before the bridge registers the application; the loop
        // ends once that handler has returned.
        if (bActive)
            m_loop.quit();
    }

private:
    QEventLoop& m_loop;
};

// The platforms whose accessibility bridge connects asynchronously.
bool HasLateAccessibilityBridge()
{
#if defined(Q_OS_LINUX)
    const QString platform = QGuiApplication::platformName();
    return platform.startsWith(QLatin1String("xcb")) ||
           platform.startsWith(QLatin1String("wayland"));
#else
    return false;
#endif
}

// The save dialog that checks a chosen name before it asks whether to
// replace the file.
class CCheckedSaveDialog : public QFileDialog
{
public:
    CCheckedSaveDialog(QWidget* pParent, std::function<QString(const QString&)> refuse)
        : QFileDialog(pParent), m_refuse(std::move(refuse))
    {
        setAcceptMode(QFileDialog::AcceptSave);
        setFileMode(QFileDialog::AnyFile);
        setOption(QFileDialog::DontUseNativeDialog);
    }

    void accept() override
    {
        const QString path = selectedFiles().value(0);
        const QString why = path.isEmpty() || QFileInfo(path).isDir() ? QString() : m_refuse(path);
        if (!why.isEmpty()) {
            AfxMessageBox(why);
            return;
        }
        QFileDialog::accept();
    }

private:
    std::function<QString(const QString&)> m_refuse;
};

} // namespace

bool AfxWaitForAccessibility(int nMaxMs)
{
    static bool s_bWaited = false;
    if (QAccessible::isActive())
        return true;
    if (AfxIsUnattended())
        return false;
    if (s_bWaited || !qobject_cast<QGuiApplication*>(QCoreApplication::instance()) ||
        !HasLateAccessibilityBridge())
        return false;
    s_bWaited = true;
    QEventLoop loop;
    CActivationWait wait(loop);
    QTimer::singleShot(nMaxMs, &loop, &QEventLoop::quit);
    if (!QAccessible::isActive())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    return QAccessible::isActive();
}

QString AfxGetAppName()
{
    // The program file is "vornterm" as a command; the application keeps its
    // own spelling in every title.
    return QStringLiteral("VornTerm");
}

void AfxSetUnattended(bool bUnattended)
{
    g_bUnattended = bUnattended;
}

bool AfxIsUnattended()
{
    return g_bUnattended.load();
}

void AfxSetExitCode(int nCode)
{
    g_nExitCode = nCode;
}

int AfxGetExitCode()
{
    return g_nExitCode.load();
}

int AfxReportCount()
{
    return g_nReports.load();
}

int AfxMessageBox(const QString& text, int nType)
{
    ++g_nReports;
    if (!AfxIsUnattended() && Hooks().messageBox)
        return Hooks().messageBox(text, nType);
    if (!AfxIsUnattended())
        AfxWaitForAccessibility(kAfxAccessibilityWaitMs);
    // Also when a signal came during that wait.
    if (AfxIsUnattended()) {
        // One line, as a journal or a script reads it.
        QString oneLine = text;
        oneLine.replace(QLatin1Char('\n'), QLatin1Char(' '));
        const QByteArray line = (AfxGetAppName() + QStringLiteral(": ") + oneLine).toLocal8Bit();
        std::fprintf(stderr, "%s\n", line.constData());
        std::fflush(stderr);
        return IDOK;
    }
    // The first line is the message; what follows explains it, beneath.
    const qsizetype nBreak = text.indexOf(QLatin1Char('\n'));
    QMessageBox box(QMessageBox::Information, AfxGetAppName(),
                    nBreak < 0 ? text : text.left(nBreak), QMessageBox::Ok);
    if (nBreak >= 0)
        box.setInformativeText(text.mid(nBreak + 1));
    box.exec();
    return IDOK;
}

int AfxDoModal(QDialog& dlg)
{
    if (AfxIsUnattended())
        return IDCANCEL;
    if (Hooks().doModal)
        return Hooks().doModal(dlg);
    return dlg.exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}

void AfxMessageBeep()
{
    if (Hooks().beep) {
        Hooks().beep();
        return;
    }
    QApplication::beep();
}

QString AfxGetOpenFileName(QWidget* pParent)
{
    if (AfxIsUnattended())
        return QString();
    if (Hooks().openFileName)
        return Hooks().openFileName(pParent);
    // No filter: every file is listed. The dialog leaves the current
    // directory alone, so the caller gets the full path.
    return QFileDialog::getOpenFileName(pParent, QString(), QString(), QString());
}

QString AfxGetSaveFileName(QWidget* pParent, const QString& suggestedName,
                           const std::function<QString(const QString& path)>& refuse)
{
    if (AfxIsUnattended())
        return QString();
    if (Hooks().saveFileName)
        return Hooks().saveFileName(pParent, suggestedName);
    if (!refuse)
        return QFileDialog::getSaveFileName(pParent, QString(), suggestedName, QString());
    // Qt's own dialog: a platform's dialog would ask about replacing before
    // the check could say that the name is no file to replace.
    CCheckedSaveDialog dlg(pParent, refuse);
    dlg.selectFile(suggestedName);
    return dlg.exec() == QDialog::Accepted ? dlg.selectedFiles().value(0) : QString();
}

bool AfxOpenTarget(const QString& target)
{
    if (Hooks().openTarget)
        return Hooks().openTarget(target);
    return QDesktopServices::openUrl(QUrl(target));
}

AfxScopedHooks::AfxScopedHooks(const AfxHooks& hooks) : m_saved(Hooks())
{
    AfxHooks& cur = Hooks();
    if (hooks.messageBox)
        cur.messageBox = hooks.messageBox;
    if (hooks.doModal)
        cur.doModal = hooks.doModal;
    if (hooks.beep)
        cur.beep = hooks.beep;
    if (hooks.openFileName)
        cur.openFileName = hooks.openFileName;
    if (hooks.saveFileName)
        cur.saveFileName = hooks.saveFileName;
    if (hooks.openTarget)
        cur.openTarget = hooks.openTarget;
}

AfxScopedHooks::~AfxScopedHooks()
{
    Hooks() = m_saved;
}
