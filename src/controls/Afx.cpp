#include "Afx.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

namespace {

AfxHooks& Hooks()
{
    static AfxHooks hooks;
    return hooks;
}

} // namespace

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
