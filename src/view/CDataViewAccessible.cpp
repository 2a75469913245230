// The data window's accessibility: the text interface that assistive
// technology reads, and how the view's change notices are told.
// User-interface thread.

#include "CDataViewAccessible.h"

#include "CDataView.h"

#include <QAccessibleWidget>
#include <QTextBoundaryFinder>
#include <algorithm>
#include <utility>

namespace {

QAccessible::UpdateHandler g_noticeHandler = nullptr;

// Exposes the shown text. Every query generates only the range it asks for.
class CDataViewAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit CDataViewAccessible(CDataView* pView)
        : QAccessibleWidget(pView, QAccessible::EditableText)
    {
    }

    CDataView* View() const { return static_cast<CDataView*>(widget()); }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        s.multiLine = true;
        s.selectableText = true;
        return s;
    }

    void selection(int selectionIndex, int* startOffset, int* endOffset) const override
    {
        *startOffset = *endOffset = 0;
        if (selectionIndex == 0 && View()->HasSelection())
            View()->GetSelection(*startOffset, *endOffset);
    }
    int selectionCount() const override { return View()->HasSelection() ? 1 : 0; }
    void addSelection(int startOffset, int endOffset) override
    {
        View()->SetSelection(startOffset, endOffset);
    }
    void removeSelection(int selectionIndex) override
    {
        if (selectionIndex == 0)
            View()->ClearSelection();
    }
    void setSelection(int selectionIndex, int startOffset, int endOffset) override
    {
        if (selectionIndex == 0)
            View()->SetSelection(startOffset, endOffset);
    }
    int cursorPosition() const override { return View()->CursorPosition(); }
    void setCursorPosition(int position) override { View()->SetSelection(position, position); }

    QString text(int startOffset, int endOffset) const override
    {
        return View()->Text(startOffset, endOffset);
    }
    int characterCount() const override { return View()->CharacterCount(); }

    QString textAtOffset(int offset, QAccessible::TextBoundaryType type, int* startOffset,
                         int* endOffset) const override
    {
        *startOffset = *endOffset = -1;
        const int count = characterCount();
        if (offset < 0 || offset > count)
            return QString();
        if (type == QAccessible::NoBoundary) {
            *startOffset = 0;
            *endOffset = count;
            return text(0, count);
        }
        if (type == QAccessible::CharBoundary) {
            *startOffset = offset;
            *endOffset = std::min(offset + 1, count);
            return text(*startOffset, *endOffset);
        }
        Range(offset, type, startOffset, endOffset);
        return text(*startOffset, *endOffset);
    }

    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType type, int* startOffset,
                             int* endOffset) const override
    {
        *startOffset = *endOffset = -1;
        if (offset <= 0 || offset > characterCount())
            return QString();
        if (type == QAccessible::CharBoundary)
            return textAtOffset(offset - 1, type, startOffset, endOffset);
        int start, end;
        textAtOffset(offset, type, &start, &end);
        if (start <= 0)
            return QString();
        return textAtOffset(start - 1, type, startOffset, endOffset);
    }

    QString textAfterOffset(int offset, QAccessible::TextBoundaryType type, int* startOffset,
                            int* endOffset) const override
    {
        *startOffset = *endOffset = -1;
        const int count = characterCount();
        if (offset < 0 || offset >= count)
            return QString();
        if (type == QAccessible::CharBoundary)
            return textAtOffset(offset + 1, type, startOffset, endOffset);
        int start, end;
        textAtOffset(offset, type, &start, &end);
        if (end >= count)
            return QString();
        return textAtOffset(end, type, startOffset, endOffset);
    }

    QRect characterRect(int offset) const override
    {
        const QRect r = View()->CharacterRect(offset);
        return QRect(View()->viewport()->mapToGlobal(r.topLeft()), r.size());
    }
    int offsetAtPoint(const QPoint& point) const override
    {
        const QPoint pos = View()->viewport()->mapFromGlobal(point);
        if (!View()->viewport()->rect().contains(pos))
            return -1;
        return View()->OffsetAt(pos);
    }
    void scrollToSubstring(int startIndex, int /*endIndex*/) override
    {
        View()->ScrollToOffset(startIndex);
    }
    QString attributes(int offset, int* startOffset, int* endOffset) const override
    {
        // One uniform run: the view has no text attributes.
        Q_UNUSED(offset);
        *startOffset = 0;
        *endOffset = characterCount();
        return QString();
    }

private:
    // The row (line), the logical line (paragraph) or the word or sentence
    // within the row around an offset.
    void Range(int offset, QAccessible::TextBoundaryType type, int* start, int* end) const
    {
        const CDataLayout& layout = View()->Layout();
        const int count = characterCount();
        const int rowOffset = std::min(offset, std::max(0, count - 1));
        int first = layout.RowOfOffset(rowOffset);
        int last = first;
        if (type == QAccessible::ParagraphBoundary && !layout.IsHex()) {
            while (first > 0 && !layout.RowEndsLine(first - 1))
                --first;
            while (last + 1 < layout.RowCount() && !layout.RowEndsLine(last))
                ++last;
        }
        *start = layout.RowStartOffset(first);
        *end = layout.RowEndOffset(last) + (layout.RowEndsLine(last) ? 1 : 0);
        if (type != QAccessible::WordBoundary && type != QAccessible::SentenceBoundary)
            return;
        const QString line = text(*start, *end);
        QTextBoundaryFinder finder(type == QAccessible::WordBoundary
                                       ? QTextBoundaryFinder::Word
                                       : QTextBoundaryFinder::Sentence,
                                   line);
        finder.setPosition(std::clamp(offset - *start, 0, static_cast<int>(line.size())));
        const int lineStart = *start;
        int from = finder.isAtBoundary() ? finder.position() : finder.toPreviousBoundary();
        int to = finder.toNextBoundary();
        if (from < 0)
            from = 0;
        if (to < 0)
            to = static_cast<int>(line.size());
        if (offset - lineStart >= line.size() && from > 0) {
            // At the very end: the last segment.
            to = from;
            finder.setPosition(from);
            from = std::max(0, static_cast<int>(finder.toPreviousBoundary()));
        }
        *start = lineStart + from;
        *end = lineStart + to;
    }
};

QAccessibleInterface* DataViewAccessibleFactory(const QString& className, QObject* pObject)
{
    if (className == QLatin1String("CDataView") && pObject && pObject->isWidgetType())
        return new CDataViewAccessible(static_cast<CDataView*>(pObject));
    return nullptr;
}

} // namespace

namespace DataViewAccess {

void InstallFactory()
{
    static const bool bInstalled = [] {
        QAccessible::installFactory(DataViewAccessibleFactory);
        return true;
    }();
    Q_UNUSED(bInstalled);
}

bool IsListening()
{
    return g_noticeHandler || QAccessible::isActive();
}

void Tell(QAccessibleEvent* pEvent)
{
    if (g_noticeHandler)
        g_noticeHandler(pEvent);
    else
        QAccessible::updateAccessibility(pEvent);
}

} // namespace DataViewAccess

using DataViewAccess::IsListening;
using DataViewAccess::Tell;

QAccessible::UpdateHandler CDataView::SetNoticeHandler(QAccessible::UpdateHandler handler)
{
    return std::exchange(g_noticeHandler, handler);
}

void CDataView::TellChanges()
{
    if (!IsListening()) {
        m_notices.Reset();
        m_noticeTimer.stop();
        return;
    }
    CTextChangeThrottle::SNotice notice;
    if (!m_notices.Take(notice)) {
        const qint64 nWait = m_notices.MsUntilDue();
        if (nWait >= 0 && !m_noticeTimer.isActive())
            m_noticeTimer.start(static_cast<int>(nWait));
        return;
    }
    m_noticeTimer.stop();
    // Without its text: Qt's AT-SPI bridge then sends no deletion signal (its
    // length would be taken from the text), other bridges a text change,
    // which carries no text there anyway. The insertion and the caret that
    // follow tell where the text now ends.
    if (notice.nRemoved > 0) {
        QAccessibleTextRemoveEvent event(this, 0, QString());
        Tell(&event);
    }
    if (notice.HasInsert()) {
        const int lastRow = m_layout.RowOfOffset(notice.nCount - 1);
        const int from = std::max(notice.nInsertFrom,
                                  m_layout.RowStartOffset(std::max(0, lastRow - kNoticeRows + 1)));
        QAccessibleTextInsertEvent event(this, from, m_layout.Text(from, notice.nCount));
        Tell(&event);
    }
    QAccessibleTextCursorEvent event(this, CursorPosition());
    Tell(&event);
}

void CDataView::NotifySelection()
{
    if (!IsListening())
        return;
    int start, end;
    GetSelection(start, end);
    QAccessibleTextSelectionEvent selection(this, start, end);
    selection.setCursorPosition(CursorPosition());
    Tell(&selection);
}
