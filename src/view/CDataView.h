#pragma once
// The data window of the Terminal window: shows the receive buffer as code
// page 437 text or as "[XX] " hex groups, wrapped at its width, scrolled to
// the end after every refresh. A refresh lays out only the appended bytes,
// moves the pixels already drawn as the view scrolls and paints only the rows
// that changed (CDirtyRows), so it costs the same for a small buffer as for a
// full one, and little for a few bytes. The view never edits its content; it lets the user select
// and copy, and exposes the shown text to assistive technology, telling it of
// changes at a rate it can follow (CTextChangeThrottle). User-interface
// thread.
//
// In four files: the buffer, scrolling and metrics (CDataView.cpp), painting
// and what to repaint (CDataViewPaint.cpp), selection, mouse and menu (CDataViewSelection.cpp),
// and accessibility (CDataViewAccessible.cpp).

#include "CDataLayout.h"
#include "CDirtyRows.h"
#include "CTextChangeThrottle.h"

#include <QAbstractScrollArea>
#include <QAccessible>
#include <QByteArray>
#include <QHash>
#include <QImage>
#include <QRawFont>
#include <QStringList>
#include <QTimer>
#include <vector>

class CDataViewGutter;
class QMenu;

class CDataView : public QAbstractScrollArea
{
    Q_OBJECT
public:
    explicit CDataView(QWidget* pParent = nullptr);
    ~CDataView() override;

    // "Terminal" where the system has it, else the system's fixed font; 13
    // pixels high. The view starts with it; the owner may set another.
    static QFont DefaultFont();

    // Shows the receive buffer as the window is to show it: the snapshot's
    // bytes in its display mode. One that continues what is shown (the same
    // generation and mode, bytes appended, the front trimmed) is laid out
    // only where it is new; anything else afresh. Scrolls to the end.
    void Show(const CReceiveSnapshot& snapshot);
    // The same for bytes given as an array: buffer[0] is the byte at
    // streamStart; an array that extends the previous one continues it.
    void SetBuffer(const QByteArray& buffer, qint64 streamStart, bool bHex);
    // Empties the view; the next SetBuffer starts afresh.
    void Clear();

    bool IsHex() const { return m_layout.IsHex(); }
    int Columns() const { return m_layout.Columns(); }
    int TotalRows() const { return m_layout.RowCount(); }
    int TopRow() const;
    // Rows that fit completely in the view (at least one).
    int VisibleRowCount() const;
    // The rows on screen as painted (tabs expanded to spaces).
    QStringList VisibleRows() const;
    const CDataLayout& Layout() const { return m_layout; }

    // The shown text: code page 437 glyphs, "\t" for a tab, "\n" at each
    // line end; hex groups in hex mode. Offsets count its characters.
    int CharacterCount() const { return m_layout.CharacterCount(); }
    QString Text(int from, int to) const { return m_layout.Text(from, to); }

    bool HasSelection() const;
    // The selected range of the shown text; start == end when none.
    void GetSelection(int& start, int& end) const;
    void SetSelection(int start, int end);
    void ClearSelection();
    QString SelectedText() const;
    // The bytes the selection shows, whatever the display; empty when none.
    QByteArray SelectedBytes() const;
    void SelectAll();
    // Puts the selected text on the clipboard; nothing when none.
    void Copy();
    // Where the caret is: the moving end of the selection, else the end.
    int CursorPosition() const;

    // Geometry for assistive technology, in viewport coordinates.
    QRect CharacterRect(int offset) const;
    int OffsetAt(const QPoint& viewportPos) const;
    void ScrollToOffset(int offset);

    // How changes are told to assistive technology: at most one notice per
    // interval, carrying a removal at the front as a position without its
    // text and, of what was appended, the newest characters of at most the
    // last kNoticeRows rows.
    static constexpr int kNoticeRows = 3;
    CTextChangeThrottle& ChangeNotices() { return m_notices; }
    // Notices go to Qt's accessibility while it is active. A handler set here
    // gets every notice of every view instead, active or not (a recorder in
    // tests, where no platform bridge can be active); nullptr restores.
    // Returns the previous handler.
    static QAccessible::UpdateHandler SetNoticeHandler(QAccessible::UpdateHandler handler);

    // The context menu: "Copy" (enabled with a selection) and "Select All",
    // then what the helpers add as it opens (ContextMenuOpening).
    QMenu* CreateContextMenu(QWidget* pParent);

    // A column at the left of the rows (nullptr: none); GutterChanged()
    // after its width changed.
    void SetGutter(const CDataViewGutter* pGutter);
    void GutterChanged();
    // What the column shows in some rows changed, not its width: only the
    // rows whose key changed are painted again; nothing scrolls.
    void GutterRowsChanged() { ShowChanges(); }

    // Matches to mark: stream positions, each nLength bytes, the current one
    // marked apart; bScroll brings the current one into sight.
    void SetHighlights(const std::vector<qint64>& positions, qsizetype nLength, int nCurrent,
                       bool bScroll);

Q_SIGNALS:
    // The menu is about to show: helpers add their entries.
    void ContextMenuOpening(QMenu* pMenu);
    // The view shows new bytes; bAfresh when it was laid out anew (a new mode,
    // cleared), which starts stream positions over.
    void BufferChanged(bool bAfresh);

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;
    void changeEvent(QEvent* pEvent) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void contextMenuEvent(QContextMenuEvent* pEvent) override;
    // The Menu key and Shift+F10 open the context menu at the caret: they
    // make no character, so nothing typed is taken from the device.
    void keyPressEvent(QKeyEvent* pEvent) override;

private:
    static constexpr int kMargin = 2; // pixels left of the first cell
    // Lays out through layOut (true when it started afresh), then scrolls,
    // repaints what changed and tells assistive technology.
    template <typename LayOut> void Lay(bool bContinues, qint64 streamStart, LayOut layOut);
    // Where the first cell begins: after the margin and the gutter.
    int TextLeft() const;

    void UpdateMetrics();
    void UpdateColumns();
    void UpdateScrollBar();
    void NotifySelection();
    void TellChanges();
    qreal CellX(int cell) const;
    // Lines of the viewport, the partly visible last one included.
    int LineCount() const;
    // Brings the viewport up to what the view shows now, painting only what
    // changed; after every change of the content, the selection, the marks
    // or the top.
    void ShowChanges();
    // Find's matches as text ranges [start, end) in offsets.
    struct Mark
    {
        int nStart;
        int nEnd;
        bool bCurrent;
    };
    // The matches that can touch rows [firstRow, lastRow].
    std::vector<Mark> VisibleMarks(int firstRow, int lastRow) const;
    CDirtyRows::SKey RowKey(int row, int selStart, int selEnd,
                            const std::vector<Mark>& marks) const;
    void PaintRow(class QPainter& painter, const CDataLayout::Cells& cells, int y, int fromCell,
                  int toCell, int selStart, int selEnd, const std::vector<Mark>& marks) const;
    void DrawCells(QPainter& painter, const QString& text, int from, int to, int y,
                   const QColor& colour) const;
    quint32 Glyph(QChar ch) const;
    const QImage& FallbackGlyph(QChar ch, const QColor& colour) const;

    CDataLayout m_layout;
    qreal m_cellWidth = 8;
    int m_nRowHeight = 13;
    int m_nAscent = 10;
    // Glyphs are placed cell by cell from the font's own glyph table, with
    // no shaping, looked up once per font; characters it lacks are drawn by a
    // fallback font once per colour and kept as images.
    QRawFont m_rawFont;
    mutable QHash<char16_t, quint32> m_glyphs;
    mutable QHash<quint64, QImage> m_fallbackGlyphs;
    CDirtyRows m_dirty; // what the viewport shows, row by row
    // The selection in absolute text positions (CDataLayout::TextOrigin()
    // based), so that it stays on the same characters while data arrives;
    // -1 when there is none.
    qint64 m_selAnchor = -1;
    qint64 m_selActive = -1;
    bool m_bSelecting = false;
    // Find's matches (stream positions), their length, the current one.
    std::vector<qint64> m_highlights;
    qsizetype m_nHighlightLength = 0;
    int m_nHighlightCurrent = -1;
    const CDataViewGutter* m_pGutter = nullptr;
    CTextChangeThrottle m_notices;
    QTimer m_noticeTimer; // for what waits until the interval ends
};
