#include "CDataTools.h"

#include "Afx.h"
#include "ByteSyntax.h"
#include "CDataView.h"
#include "CFindBar.h"
#include "CSendBytesDlg.h"
#include "SaveTarget.h"

#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QSaveFile>
#include <QShortcut>

CDataTools::CDataTools(QWidget* pWindow, CDataView* pView, Hooks hooks)
    : QObject(pView), m_pWindow(pWindow), m_pView(pView), m_hooks(std::move(hooks)),
      m_pBar(new CFindBar(pView))
{
    connect(m_pView, &CDataView::ContextMenuOpening, this, &CDataTools::AddToMenu);
    connect(m_pView, &CDataView::BufferChanged, this, [this](bool bAfresh) {
        if (bAfresh)
            Research(); // a new mode, or cleared: positions start anew
        else
            Follow();
    });
    connect(m_pBar, &CFindBar::FindChanged, this, &CDataTools::Research);
    connect(m_pBar, &CFindBar::FindNext, this, &CDataTools::FindNext);
    connect(m_pBar, &CFindBar::FindPrevious, this, &CDataTools::FindPrevious);
    connect(m_pBar, &CFindBar::Closed, this, [this] { m_pView->SetHighlights({}, 0, -1, false); });
    // Keys that make no character, so none is taken from the device.
    auto* pNext = new QShortcut(QKeySequence(Qt::Key_F3), pWindow);
    connect(pNext, &QShortcut::activated, this, &CDataTools::FindNext);
    auto* pPrevious = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), pWindow);
    connect(pPrevious, &QShortcut::activated, this, &CDataTools::FindPrevious);
}

void CDataTools::AddToMenu(QMenu* pMenu)
{
    const bool bSelection = m_pView->HasSelection();
    pMenu->addSeparator();
    pMenu->addAction(tr("Find..."), this, &CDataTools::OpenFind);
    QAction* pHex = pMenu->addAction(tr("Copy as Hex"), this, &CDataTools::CopyAsHex);
    pHex->setEnabled(bSelection);
    QAction* pC = pMenu->addAction(tr("Copy as C String"), this, &CDataTools::CopyAsCString);
    pC->setEnabled(bSelection);
    pMenu->addAction(tr("Save Received Data..."), this, &CDataTools::SaveReceivedData);
    pMenu->addAction(tr("Send Bytes..."), this, &CDataTools::SendBytes);
}

void CDataTools::OpenFind()
{
    m_pBar->Open();
    Research();
}

void CDataTools::Research()
{
    const QString text = m_pBar->Text();
    if (text.isEmpty()) {
        m_find.Clear();
        m_pBar->ShowResult(QString());
        m_pView->SetHighlights({}, 0, -1, false);
        return;
    }
    // In the hex display bytes are given as hex ("0D 0A", "[0D] [0A]") or
    // with escapes ("\r\n"); in the text display as the window shows them.
    const ByteSyntax::Parsed parsed =
        m_pView->IsHex() ? ByteSyntax::FromFindInHex(text) : ByteSyntax::FromShown(text);
    if (!parsed.IsValid()) {
        m_find.Clear();
        m_pBar->ShowResult(parsed.strError, true);
        m_pView->SetHighlights({}, 0, -1, false);
        return;
    }
    const CDataLayout& layout = m_pView->Layout();
    // From what is in sight on, as a reader expects.
    const qint64 nFrom = layout.PositionOfOffset(layout.RowStartOffset(m_pView->TopRow()));
    m_find.Search(layout.Bytes(), layout.StreamStart(), parsed.bytes, m_pBar->MatchCase(), nFrom);
    ShowCurrent(true);
}

void CDataTools::Follow()
{
    // New bytes arrived, or the front was trimmed: the matches stay on their
    // bytes, and the view is not moved from where the data takes it.
    if (m_find.Pattern().isEmpty())
        return;
    const CDataLayout& layout = m_pView->Layout();
    m_find.Update(layout.Bytes(), layout.StreamStart());
    ShowCurrent(false);
}

void CDataTools::FindNext()
{
    if (m_find.Pattern().isEmpty()) {
        OpenFind();
        return;
    }
    m_find.Next();
    ShowCurrent(true);
}

void CDataTools::FindPrevious()
{
    if (m_find.Pattern().isEmpty()) {
        OpenFind();
        return;
    }
    m_find.Previous();
    ShowCurrent(true);
}

void CDataTools::ShowCurrent(bool bScroll)
{
    m_pBar->ShowResult(m_find.CountText());
    m_pView->SetHighlights(m_find.Positions(), m_find.Pattern().size(), m_find.Current(), bScroll);
}

void CDataTools::CopyAsHex()
{
    const QByteArray bytes = m_pView->SelectedBytes();
    if (!bytes.isEmpty())
        QGuiApplication::clipboard()->setText(ByteSyntax::ToHex(bytes));
}

void CDataTools::CopyAsCString()
{
    const QByteArray bytes = m_pView->SelectedBytes();
    if (!bytes.isEmpty())
        QGuiApplication::clipboard()->setText(ByteSyntax::ToCString(bytes));
}

void CDataTools::SaveReceivedData()
{
    // The selection's bytes when there is one, else the whole buffer; raw,
    // never through the display's translation.
    const QByteArray bytes = m_pView->HasSelection() ? m_pView->SelectedBytes() : m_hooks.shown();
    const auto refusal = [](const QString& path) {
        const QString why = SaveTarget::Refusal(path);
        return why.isEmpty() ? why
                             : QStringLiteral("Cannot save the received data.\n'%1': %2; choose a "
                                              "regular file or a new name.")
                                   .arg(QFileInfo(path).absoluteFilePath(), why);
    };
    // Refused before the dialog asks whether to replace it.
    const QString path = AfxGetSaveFileName(m_pWindow, QStringLiteral("received.bin"), refusal);
    if (path.isEmpty())
        return;
    // Again: a prompt can be answered otherwise, and the name can change.
    QString why = refusal(path);
    if (!why.isEmpty()) {
        AfxMessageBox(why);
        return;
    }
    // Written as a new file renamed over the old one; through a link, over
    // the link's file, and the link stays.
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size()) {
        why = refusal(path); // what the name is now, just before it is replaced
        if (!why.isEmpty()) {
            file.cancelWriting();
            AfxMessageBox(why);
            return;
        }
        if (file.commit())
            return;
    }
    AfxMessageBox(QStringLiteral("Cannot save the received data.\n'%1': %2.")
                      .arg(QFileInfo(path).absoluteFilePath(), file.errorString()));
}

void CDataTools::SendBytes()
{
    CSendBytesDlg dlg(m_hooks.send, m_history, m_pWindow);
    AfxDoModal(dlg);
}
