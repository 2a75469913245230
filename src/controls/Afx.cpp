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

namespace {

AfxHooks& Hooks()
{
    static AfxHooks hooks;
    return hooks;
}

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

} // namespace

bool AfxWaitForAccessibility(int nMaxMs)
{
    static bool s_bWaited = false;
    if (QAccessible::isActive())
        return true;
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
    QString name;
    if (QCoreApplication::instance())
        name = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    return name.isEmpty() ? QStringLiteral("vornterm") : name;
}

int AfxMessageBox(const QString& text, int nType)
{
    if (Hooks().messageBox)
        return Hooks().messageBox(text, nType);
    AfxWaitForAccessibility(kAfxAccessibilityWaitMs);
    QMessageBox::information(nullptr, AfxGetAppName(), text, QMessageBox::Ok);
    return IDOK;
}

int AfxDoModal(QDialog& dlg)
{
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
    if (Hooks().openFileName)
        return Hooks().openFileName(pParent);
    // No filter: every file is listed. The dialog leaves the current
    // directory alone, so the caller gets the full path.
    return QFileDialog::getOpenFileName(pParent, QString(), QString(), QString());
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
    if (hooks.openTarget)
        cur.openTarget = hooks.openTarget;
}

AfxScopedHooks::~AfxScopedHooks()
{
    Hooks() = m_saved;
}
