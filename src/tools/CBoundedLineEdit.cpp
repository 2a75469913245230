#include "CBoundedLineEdit.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>

CBoundedLineEdit::CBoundedLineEdit(int nBound, QWidget* pParent)
    : QLineEdit(pParent), m_nBound(nBound)
{
}

bool CBoundedLineEdit::Fits(qsizetype nInserted) const
{
    return text().size() - selectedText().size() + nInserted <= m_nBound;
}

bool CBoundedLineEdit::InsertWhole(const QString& inserted)
{
    if (!Fits(inserted.size())) {
        Q_EMIT Refused(text().size() - selectedText().size() + inserted.size());
        return false;
    }
    insert(inserted);
    return true;
}

void CBoundedLineEdit::PasteWhole()
{
    if (!isReadOnly())
        InsertWhole(QGuiApplication::clipboard()->text());
}

void CBoundedLineEdit::keyPressEvent(QKeyEvent* pEvent)
{
    if (pEvent == QKeySequence::Paste) {
        PasteWhole();
        pEvent->accept();
        return;
    }
    QLineEdit::keyPressEvent(pEvent);
}

void CBoundedLineEdit::mouseReleaseEvent(QMouseEvent* pEvent)
{
    // The middle button pastes the selection where the desktop has one.
    QClipboard* pClipboard = QGuiApplication::clipboard();
    if (pEvent->button() == Qt::MiddleButton && pClipboard->supportsSelection() && !isReadOnly()) {
        deselect();
        InsertWhole(pClipboard->text(QClipboard::Selection));
        pEvent->accept();
        return;
    }
    QLineEdit::mouseReleaseEvent(pEvent);
}

void CBoundedLineEdit::contextMenuEvent(QContextMenuEvent* pEvent)
{
    // The standard menu, its Paste through PasteWhole. Qt 6.4 connects it by
    // the slot's name, and names no action: that connection finds it.
    QMenu* pMenu = createStandardContextMenu();
    for (QAction* pAction : pMenu->actions()) {
        if (disconnect(pAction, SIGNAL(triggered()), this, SLOT(paste())))
            connect(pAction, &QAction::triggered, this, &CBoundedLineEdit::PasteWhole);
    }
    pMenu->setAttribute(Qt::WA_DeleteOnClose);
    pMenu->popup(pEvent->globalPos());
}

void CBoundedLineEdit::dropEvent(QDropEvent* pEvent)
{
    // Dropped where the mouse is, beside the selection.
    const QString dropped = pEvent->mimeData()->text();
    if (text().size() + dropped.size() > m_nBound) {
        Q_EMIT Refused(text().size() + dropped.size());
        pEvent->ignore();
        return;
    }
    QLineEdit::dropEvent(pEvent);
}
