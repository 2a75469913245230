// The data window widget: refreshes scroll to the end, a paused owner sees
// nothing move, selection and copy, the context menu, keys left to the owner,
// painting, the text that assistive technology reads and the notices it gets
// at flood rate.

#include "CDataView.h"
#include "ReceiveBuffer.h"
#include "TryTimeout.h"

#include <QAccessible>
#include <QAccessibleTextInterface>
#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QPaintEvent>
#include <QScreen>
#include <QScrollBar>
#include <QtTest>
#include <cmath>

namespace {

// A literal's bytes, zero bytes included.
template <size_t N> QByteArray Bytes(const char (&text)[N])
{
    return QByteArray(text, N - 1);
}

QByteArray NumberedLines(int nLines, const char* pEnd = "\r\n")
{
    QByteArray data;
    for (int i = 0; i < nLines; ++i)
        data += "line " + QByteArray::number(i) + pEnd;
    return data;
}

// The text notices of one view, as an update handler sees them.
struct SNotice
{
    bool bInsert;
    int position;
    QString text;
};
QObject* g_pWatched = nullptr;
QList<SNotice> g_notices;

void RecordNotice(QAccessibleEvent* pEvent)
{
    if (pEvent->object() != g_pWatched)
        return;
    if (auto* p = dynamic_cast<QAccessibleTextInsertEvent*>(pEvent))
        g_notices.append({true, p->changePosition(), p->textInserted()});
    else if (auto* p = dynamic_cast<QAccessibleTextRemoveEvent*>(pEvent))
        g_notices.append({false, p->changePosition(), p->textRemoved()});
}

// Records what the data window's viewport paints.
class CPaintRecorder : public QObject
{
public:
    explicit CPaintRecorder(QWidget* pWidget) { pWidget->installEventFilter(this); }
    QRegion painted;

protected:
    bool eventFilter(QObject*, QEvent* pEvent) override
    {
        if (pEvent->type() == QEvent::Paint)
            painted += static_cast<QPaintEvent*>(pEvent)->region();
        return false;
    }
};

} // namespace

class TestDataView : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void hexRowsAtWidth();
    void textRowsAndZeroByte();
    void refreshShowsTheEnd();
    void refreshAfterUserScrolledShowsTheEnd();
    void pausedOwnerChangesNothing();
    void resizeKeepsTopRow();
    void trimKeepsShowingTheEnd();
    void clearStartsAfresh();

    void selectAllAndCopy_data();
    void selectAllAndCopy();
    void mouseSelection();
    void shiftClickExtends();
    void selectionStaysOnItsCharacters();
    void contextMenu();
    void characterKeysAreNotConsumed();
    void paintsTextAndSelection();
    void paintsOnlyWhatChanged_data();
    void paintsOnlyWhatChanged();
    void screenMatchesAFullPaint();

    void accessibleNameAndText();
    void accessibleLinesAndSelection();
    void accessibleHexText();
    void accessibleNoticesAtFloodRate_data();
    void accessibleNoticesAtFloodRate();

private:
    // Makes the view exactly nColumns cells wide.
    void SetColumns(int nColumns);
    QPoint CellCenter(int row, int cell) const;
    // Lets pending paints happen.
    void Settle() const;

    CDataView* m_pView = nullptr;
};

void TestDataView::init()
{
    m_pView = new CDataView;
    m_pView->resize(400, 300);
    m_pView->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_pView, 20000));
}

void TestDataView::cleanup()
{
    delete m_pView;
    m_pView = nullptr;
}

void TestDataView::SetColumns(int nColumns)
{
    const qreal cell = QFontMetricsF(m_pView->font()).horizontalAdvance(QLatin1Char('M'));
    const int chrome = m_pView->width() - m_pView->viewport()->width();
    const int width = static_cast<int>(std::ceil(4 + nColumns * cell)) + 1;
    m_pView->resize(width + chrome, m_pView->height());
    QCOMPARE(m_pView->Columns(), nColumns);
}

QPoint TestDataView::CellCenter(int row, int cell) const
{
    const qreal width = QFontMetricsF(m_pView->font()).horizontalAdvance(QLatin1Char('M'));
    const int height = QFontMetrics(m_pView->font()).lineSpacing();
    return QPoint(static_cast<int>(2 + (cell + 0.5) * width),
                  (row - m_pView->TopRow()) * height + height / 2);
}

void TestDataView::hexRowsAtWidth()
{
    SetColumns(12);
    m_pView->SetBuffer(QByteArray("\x41\x0D\xFF"), 0, true);
    QVERIFY(m_pView->IsHex());
    QCOMPARE(m_pView->VisibleRows(), (QStringList{"[41] [0D] ", "[FF] "}));
    QCOMPARE(m_pView->TotalRows(), 2);
    SetColumns(15);
    QCOMPARE(m_pView->VisibleRows(), QStringList{"[41] [0D] [FF] "});
}

void TestDataView::textRowsAndZeroByte()
{
    SetColumns(6);
    m_pView->SetBuffer(Bytes("ab\0cd\r\nx\ty\rlong line\nend"), 0, false);
    QCOMPARE(m_pView->VisibleRows(), (QStringList{"ab cd", "x     ", "y", "long l", "ine", "end"}));
}

void TestDataView::refreshShowsTheEnd()
{
    QByteArray data = NumberedLines(1000);
    m_pView->SetBuffer(data, 0, false);
    QCOMPARE(m_pView->TotalRows(), 1001);
    QVERIFY(m_pView->VisibleRowCount() < 100);
    QCOMPARE(m_pView->TopRow(), m_pView->TotalRows() - m_pView->VisibleRowCount());
    QStringList rows = m_pView->VisibleRows();
    QCOMPARE(rows.last(), QString());
    QCOMPARE(rows[rows.size() - 2], QStringLiteral("line 999"));

    data += "tail";
    m_pView->SetBuffer(data, 0, false);
    QCOMPARE(m_pView->VisibleRows().last(), QStringLiteral("tail"));
    QCOMPARE(m_pView->Layout().RebuildCount(), 1);

    m_pView->SetBuffer(data, 0, true);
    QCOMPARE(m_pView->TopRow(), m_pView->TotalRows() - m_pView->VisibleRowCount());
    QVERIFY(m_pView->VisibleRows().last().endsWith(QStringLiteral("[69] [6C] ")));
}

void TestDataView::refreshAfterUserScrolledShowsTheEnd()
{
    QByteArray data = NumberedLines(500);
    m_pView->SetBuffer(data, 0, false);
    m_pView->verticalScrollBar()->setValue(10);
    QCOMPARE(m_pView->VisibleRows().first(), QStringLiteral("line 10"));
    data += "more\r\n";
    m_pView->SetBuffer(data, 0, false);
    QCOMPARE(m_pView->TopRow(), m_pView->TotalRows() - m_pView->VisibleRowCount());
}

void TestDataView::pausedOwnerChangesNothing()
{
    QByteArray data = NumberedLines(300);
    m_pView->SetBuffer(data, 0, false);
    m_pView->verticalScrollBar()->setValue(42);
    const QStringList rows = m_pView->VisibleRows();
    const int total = m_pView->TotalRows();
    // The owner's buffer grows, but while paused it does not hand it over.
    data += NumberedLines(50);
    QCoreApplication::processEvents();
    QCOMPARE(m_pView->VisibleRows(), rows);
    QCOMPARE(m_pView->TopRow(), 42);
    QCOMPARE(m_pView->TotalRows(), total);
}

void TestDataView::resizeKeepsTopRow()
{
    SetColumns(40);
    QByteArray data;
    for (int i = 0; i < 200; ++i)
        data += QByteArray(30 + i % 17, char('a' + i % 26)) + "\r\n";
    m_pView->SetBuffer(data, 0, false);
    m_pView->verticalScrollBar()->setValue(77);
    const int topChar = m_pView->Layout().RowStartOffset(77);
    const QChar shown = m_pView->VisibleRows().first().at(0);

    // Narrower: lines wrap, more rows; the same character stays at the top.
    SetColumns(11);
    QVERIFY(m_pView->TotalRows() > 400);
    QCOMPARE(m_pView->Layout().RowStartOffset(m_pView->TopRow()), topChar);
    QCOMPARE(m_pView->VisibleRows().first().at(0), shown);
    // Shorter: the top row stays.
    const int top = m_pView->TopRow();
    m_pView->resize(m_pView->width(), m_pView->height() - 60);
    QCOMPARE(m_pView->TopRow(), top);
    SetColumns(40);
    QCOMPARE(m_pView->Layout().RowStartOffset(m_pView->TopRow()), topChar);
}

void TestDataView::trimKeepsShowingTheEnd()
{
    // The owner trims its first half; the view drops it and shows the end.
    QByteArray data = NumberedLines(2000);
    m_pView->SetBuffer(data, 0, false);
    const int half = data.size() / 2;
    data.remove(0, half);
    data += "after trim";
    m_pView->SetBuffer(data, half, false);
    QCOMPARE(m_pView->VisibleRows().last(), QStringLiteral("after trim"));
    QCOMPARE(m_pView->Layout().RebuildCount(), 1);
    QCOMPARE(m_pView->Text(0, m_pView->CharacterCount()),
             QString::fromLatin1(data).replace(QLatin1String("\r\n"), QLatin1String("\n")));
}

void TestDataView::clearStartsAfresh()
{
    m_pView->SetBuffer(NumberedLines(100), 0, false);
    m_pView->SelectAll();
    m_pView->Clear();
    QCOMPARE(m_pView->TotalRows(), 1);
    QCOMPARE(m_pView->VisibleRows(), QStringList{QString()});
    QCOMPARE(m_pView->CharacterCount(), 0);
    QVERIFY(!m_pView->HasSelection());
    // Any stream position is a fresh start after a clear.
    m_pView->SetBuffer(QByteArray("new"), 123456, false);
    QCOMPARE(m_pView->VisibleRows(), QStringList{"new"});
}

void TestDataView::selectAllAndCopy_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<int>("columns");
    QTest::addColumn<QString>("copied");
    QTest::newRow("hex as shown") << QByteArray("\x41\x0D\xFF") << true << 12
                                  << QStringLiteral("[41] [0D] [FF] ");
    QTest::newRow("line ends become \\n")
        << QByteArray("ab\r\ncd\ref\ngh") << false << 20 << QStringLiteral("ab\ncd\nef\ngh");
    QTest::newRow("wrapped rows join without break")
        << QByteArray("abcdefgh\r\nij") << false << 3 << QStringLiteral("abcdefgh\nij");
    QTest::newRow("glyphs and tab")
        << Bytes("\x01\t\xdb\0") << false << 20 << QString::fromUtf8("☺\t█ ");
}

void TestDataView::selectAllAndCopy()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, hex);
    QFETCH(int, columns);
    QFETCH(QString, copied);
    SetColumns(columns);
    m_pView->SetBuffer(bytes, 0, hex);
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    m_pView->Copy(); // nothing selected: the clipboard keeps what it had
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
    m_pView->SelectAll();
    QCOMPARE(m_pView->SelectedText(), copied);
    m_pView->Copy();
    QCOMPARE(QGuiApplication::clipboard()->text(), copied);
}

void TestDataView::mouseSelection()
{
    SetColumns(4);
    // Rows: "abcd" "ef" | "ghij" | "k"
    m_pView->SetBuffer(QByteArray("abcdef\r\nghij\nk"), 0, false);
    QCOMPARE(m_pView->VisibleRows(), (QStringList{"abcd", "ef", "ghij", "k"}));
    QWidget* pViewport = m_pView->viewport();
    // From the left half of "c" to the left half of "h": across the wrap
    // (no break) and the line end ("\n").
    QPoint from = CellCenter(0, 2) - QPoint(2, 0);
    QPoint to = CellCenter(2, 1) - QPoint(2, 0);
    QTest::mousePress(pViewport, Qt::LeftButton, Qt::NoModifier, from);
    QTest::mouseMove(pViewport, to);
    QTest::mouseRelease(pViewport, Qt::LeftButton, Qt::NoModifier, to);
    QCOMPARE(m_pView->SelectedText(), QStringLiteral("cdef\ng"));
    // Dragging past the end of a row takes the rest of that line.
    QTest::mousePress(pViewport, Qt::LeftButton, Qt::NoModifier, CellCenter(1, 0) - QPoint(2, 0));
    QTest::mouseMove(pViewport, CellCenter(1, 3));
    QTest::mouseRelease(pViewport, Qt::LeftButton, Qt::NoModifier, CellCenter(1, 3));
    QCOMPARE(m_pView->SelectedText(), QStringLiteral("ef"));
    // A click without a drag selects nothing.
    QTest::mouseClick(pViewport, Qt::LeftButton, Qt::NoModifier, CellCenter(0, 1));
    QVERIFY(!m_pView->HasSelection());
}

void TestDataView::shiftClickExtends()
{
    SetColumns(20);
    m_pView->SetBuffer(QByteArray("0123456789\r\nabcdefghij"), 0, false);
    QWidget* pViewport = m_pView->viewport();
    QTest::mouseClick(pViewport, Qt::LeftButton, Qt::NoModifier, CellCenter(0, 3) - QPoint(2, 0));
    QTest::mouseClick(pViewport, Qt::LeftButton, Qt::ShiftModifier,
                      CellCenter(1, 2) - QPoint(2, 0));
    QCOMPARE(m_pView->SelectedText(), QStringLiteral("3456789\nab"));
    // Extending again moves the same end; the anchor stays.
    QTest::mouseClick(pViewport, Qt::LeftButton, Qt::ShiftModifier,
                      CellCenter(0, 8) - QPoint(2, 0));
    QCOMPARE(m_pView->SelectedText(), QStringLiteral("34567"));
}

void TestDataView::selectionStaysOnItsCharacters()
{
    QByteArray data = NumberedLines(100);
    m_pView->SetBuffer(data, 0, false);
    const int start = m_pView->Layout().OffsetOfPosition(data.indexOf("line 60"));
    m_pView->SetSelection(start, start + 7);
    QCOMPARE(m_pView->SelectedText(), QStringLiteral("line 60"));
    // More data and a trim of the front: the selection follows its text.
    data += NumberedLines(10);
    m_pView->SetBuffer(data, 0, false);
    const int cut = data.indexOf("line 30");
    data.remove(0, cut);
    m_pView->SetBuffer(data, cut, false);
    QCOMPARE(m_pView->SelectedText(), QStringLiteral("line 60"));
    // Once its text is trimmed away, it is gone.
    const int cut2 = data.indexOf("line 70");
    data.remove(0, cut2);
    m_pView->SetBuffer(data, cut + cut2, false);
    QVERIFY(!m_pView->HasSelection());
    // A mode change starts afresh, without a selection.
    m_pView->SelectAll();
    m_pView->SetBuffer(data, cut + cut2, true);
    QVERIFY(!m_pView->HasSelection());
}

void TestDataView::contextMenu()
{
    m_pView->SetBuffer(QByteArray("hello\r\nworld"), 0, false);
    std::unique_ptr<QMenu> pMenu(m_pView->CreateContextMenu(nullptr));
    const QList<QAction*> actions = pMenu->actions();
    QCOMPARE(actions.size(), 2);
    QCOMPARE(actions[0]->text(), QStringLiteral("Copy"));
    QCOMPARE(actions[1]->text(), QStringLiteral("Select All"));
    QVERIFY(!actions[0]->isEnabled());
    actions[1]->trigger();
    QCOMPARE(m_pView->SelectedText(), QStringLiteral("hello\nworld"));

    std::unique_ptr<QMenu> pMenu2(m_pView->CreateContextMenu(nullptr));
    QVERIFY(pMenu2->actions()[0]->isEnabled());
    QGuiApplication::clipboard()->clear();
    pMenu2->actions()[0]->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("hello\nworld"));
}

void TestDataView::characterKeysAreNotConsumed()
{
    m_pView->SetBuffer(QByteArray("abc"), 0, false);
    m_pView->SelectAll();
    for (const auto& key : {std::make_pair(Qt::Key_A, QStringLiteral("a")),
                            std::make_pair(Qt::Key_Space, QStringLiteral(" ")),
                            std::make_pair(Qt::Key_Return, QStringLiteral("\r")),
                            std::make_pair(Qt::Key_Backspace, QStringLiteral("\b"))}) {
        QKeyEvent event(QEvent::KeyPress, key.first, Qt::NoModifier, key.second);
        QApplication::sendEvent(m_pView, &event);
        QVERIFY2(!event.isAccepted(), qPrintable(key.second));
    }
    QCOMPARE(m_pView->Text(0, m_pView->CharacterCount()), QStringLiteral("abc"));
}

void TestDataView::paintsTextAndSelection()
{
    SetColumns(20);
    m_pView->SetBuffer(QByteArray("\xdb\xdb\xdb\xdb\r\n\xdb\xdb\xdb\xdb"), 0, false);
    m_pView->SetSelection(5, 7); // the first two blocks of row 1
    const QImage image = m_pView->viewport()->grab().toImage();
    const QColor base = m_pView->palette().color(QPalette::Base);
    const QColor highlight = m_pView->palette().color(QPalette::Highlight);
    const QColor text = m_pView->palette().color(QPalette::Text);
    const qreal dpr = image.devicePixelRatio();
    auto pixel = [&](const QPoint& p) {
        return image.pixelColor(QPoint(qRound(p.x() * dpr), qRound(p.y() * dpr)));
    };
    // A full block is ink in its whole cell: text colour unselected,
    // highlighted-text colour on a selected cell, and the selection
    // background does not reach past it.
    QCOMPARE(pixel(CellCenter(0, 1)), text);
    QCOMPARE(pixel(CellCenter(1, 1)), m_pView->palette().color(QPalette::HighlightedText));
    QCOMPARE(pixel(CellCenter(1, 3)), text);
    QCOMPARE(pixel(CellCenter(1, 8)), base);
    QVERIFY(highlight != base);
}

void TestDataView::Settle() const
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

void TestDataView::paintsOnlyWhatChanged_data()
{
    QTest::addColumn<bool>("hex");
    QTest::addColumn<QByteArray>("appended");
    QTest::addColumn<int>("selected"); // characters selected on the last full line, or 0
    QTest::addColumn<int>("rows");     // at most this many rows' area is painted
    QTest::addColumn<int>("fromCell"); // nothing left of this cell is painted
    QTest::newRow("a byte") << false << QByteArray("x") << 0 << 1 << 4;
    QTest::newRow("a new line") << false << QByteArray("\r\nnext") << 0 << 3 << 0;
    QTest::newRow("a selection") << false << QByteArray() << 3 << 1 << 0;
    QTest::newRow("a byte in hex") << true << QByteArray("x") << 0 << 1 << 15;
}

void TestDataView::paintsOnlyWhatChanged()
{
    QFETCH(bool, hex);
    QFETCH(QByteArray, appended);
    QFETCH(int, selected);
    QFETCH(int, rows);
    QFETCH(int, fromCell);
    SetColumns(hex ? 20 : 40);
    QByteArray data = hex ? QByteArray(203, 'h') : NumberedLines(100) + "tail";
    m_pView->SetBuffer(data, 0, hex);
    m_pView->viewport()->repaint(); // nothing left to paint
    CPaintRecorder recorder(m_pView->viewport());
    if (selected > 0) {
        const int start = m_pView->Layout().RowStartOffset(m_pView->TopRow() + 2);
        m_pView->SetSelection(start, start + selected);
    }
    m_pView->SetBuffer(data + appended, 0, hex);
    QTRY_VERIFY_WITH_TIMEOUT(!recorder.painted.isEmpty(), 20000);
    Settle();
    const int rowHeight = QFontMetrics(m_pView->font()).lineSpacing();
    qint64 area = 0;
    for (const QRect& r : recorder.painted)
        area += qint64(r.width()) * r.height();
    QVERIFY2(area <= qint64(rows) * rowHeight * m_pView->viewport()->width(),
             qPrintable(QStringLiteral("%1 pixels painted").arg(area)));
    QVERIFY(recorder.painted.boundingRect().left() >= CellCenter(0, fromCell).x() - rowHeight);
}

// What is on screen after changes painted piecemeal, some before the last
// paint ended, is exactly what painting it all afresh gives: the rows and
// the scroll bar.
void TestDataView::screenMatchesAFullPaint()
{
    SetColumns(30);
    const auto screenMatches = [&] {
        Settle();
        const QImage screen = m_pView->screen()->grabWindow(m_pView->winId()).toImage();
        const QImage shown =
            screen.copy(QRect(QPoint(), m_pView->size() * screen.devicePixelRatio()))
                .convertToFormat(QImage::Format_RGB32);
        const QImage fresh = m_pView->grab().toImage().convertToFormat(QImage::Format_RGB32);
        return !screen.isNull() && shown == fresh;
    };
    QByteArray data;
    qint64 start = 0;
    const auto append = [&](const QByteArray& bytes, bool bPaint) {
        data += bytes;
        m_pView->SetBuffer(data, start, false);
        if (bPaint)
            Settle();
    };
    append(NumberedLines(40) + "a\tb", true);
    for (int i = 0; i < 12; ++i) // wrapping rows, a few bytes at a time
        append(QByteArray(i % 3 == 0 ? "\r\n" : "") + QByteArray(7 + i, char('k' + i)), i % 2);
    QVERIFY2(screenMatches(), "appends");
    m_pView->SetSelection(m_pView->CharacterCount() - 60, m_pView->CharacterCount() - 5);
    append("more\r\nand more", false);
    QVERIFY2(screenMatches(), "selection and appends");
    // Find's matches, the last going on past the end while the row grows.
    const std::vector<qint64> matches{data.size() - 70, data.size() - 30, data.size() - 3};
    m_pView->SetHighlights(matches, 6, 0, false);
    append("grows", false);
    QVERIFY2(screenMatches(), "matches and appends");
    m_pView->SetHighlights(matches, 6, 2, false);
    QVERIFY2(screenMatches(), "another current match");
    m_pView->SetHighlights({}, 0, -1, false);
    QVERIFY2(screenMatches(), "matches gone");
    m_pView->verticalScrollBar()->setValue(m_pView->TopRow() - 5);
    Settle();
    m_pView->verticalScrollBar()->setValue(m_pView->TopRow() + 2);
    QVERIFY2(screenMatches(), "scrolled back");
    start = data.indexOf("line 30");
    data.remove(0, start);
    append(NumberedLines(3), false);
    QVERIFY2(screenMatches(), "trimmed");
    m_pView->ClearSelection();
    m_pView->Clear();
    append("after clear", false);
    QVERIFY2(screenMatches(), "cleared");
}

void TestDataView::accessibleNameAndText()
{
    m_pView->SetBuffer(Bytes("ab\r\n\x01\0z"), 0, false);
    QAccessibleInterface* pIface = QAccessible::queryAccessibleInterface(m_pView);
    QVERIFY(pIface);
    QCOMPARE(pIface->text(QAccessible::Name), QStringLiteral("Data window"));
    QVERIFY(pIface->state().readOnly);
    QAccessibleTextInterface* pText = pIface->textInterface();
    QVERIFY(pText);
    const QString shown = QString::fromUtf8("ab\n☺ z");
    QCOMPARE(pText->characterCount(), shown.size());
    QCOMPARE(pText->text(0, pText->characterCount()), shown);
    QCOMPARE(pText->text(1, 4), QString::fromUtf8("b\n☺"));
    QCOMPARE(pText->cursorPosition(), shown.size());
}

void TestDataView::accessibleLinesAndSelection()
{
    SetColumns(5);
    // Rows: "first" "line" | "two"
    m_pView->SetBuffer(QByteArray("firstline\r\ntwo"), 0, false);
    QAccessibleTextInterface* pText =
        QAccessible::queryAccessibleInterface(m_pView)->textInterface();
    int start = -1, end = -1;
    QCOMPARE(pText->textAtOffset(2, QAccessible::LineBoundary, &start, &end),
             QStringLiteral("first"));
    QCOMPARE(start, 0);
    QCOMPARE(end, 5);
    QCOMPARE(pText->textAtOffset(6, QAccessible::LineBoundary, &start, &end),
             QStringLiteral("line\n"));
    QCOMPARE(start, 5);
    QCOMPARE(end, 10);
    QCOMPARE(pText->textAfterOffset(6, QAccessible::LineBoundary, &start, &end),
             QStringLiteral("two"));
    QCOMPARE(start, 10);
    QCOMPARE(pText->textBeforeOffset(11, QAccessible::LineBoundary, &start, &end),
             QStringLiteral("line\n"));
    QCOMPARE(pText->textAtOffset(pText->characterCount(), QAccessible::LineBoundary, &start, &end),
             QStringLiteral("two"));
    QCOMPARE(pText->textAtOffset(3, QAccessible::ParagraphBoundary, &start, &end),
             QStringLiteral("firstline\n"));
    QCOMPARE(pText->textAtOffset(11, QAccessible::WordBoundary, &start, &end),
             QStringLiteral("two"));
    QCOMPARE(pText->textAtOffset(11, QAccessible::CharBoundary, &start, &end), QStringLiteral("w"));

    QCOMPARE(pText->selectionCount(), 0);
    pText->setSelection(0, 3, 12);
    QCOMPARE(m_pView->SelectedText(), QStringLiteral("stline\ntw"));
    QCOMPARE(pText->selectionCount(), 1);
    pText->selection(0, &start, &end);
    QCOMPARE(start, 3);
    QCOMPARE(end, 12);
    pText->removeSelection(0);
    QVERIFY(!m_pView->HasSelection());
    m_pView->SelectAll();
    pText->selection(0, &start, &end);
    QCOMPARE(end, pText->characterCount());
}

void TestDataView::accessibleHexText()
{
    m_pView->SetBuffer(QByteArray("\x41\x0D\xFF"), 0, true);
    QAccessibleTextInterface* pText =
        QAccessible::queryAccessibleInterface(m_pView)->textInterface();
    QCOMPARE(pText->characterCount(), 15);
    QCOMPARE(pText->text(0, 15), QStringLiteral("[41] [0D] [FF] "));
    QCOMPARE(pText->text(5, 10), QStringLiteral("[0D] "));
}

void TestDataView::accessibleNoticesAtFloodRate_data()
{
    QTest::addColumn<bool>("bHex");
    QTest::newRow("hex") << true;
    QTest::newRow("text") << false;
}

void TestDataView::accessibleNoticesAtFloodRate()
{
    QFETCH(bool, bHex);
    qint64 now = 0;
    m_pView->ChangeNotices().SetClock([&now] { return now; });
    g_pWatched = m_pView;
    g_notices.clear();
    // Offscreen no platform bridge makes Qt's accessibility active, so Qt
    // would pass nothing to an update handler: the view's own hook gets them.
    const QAccessible::UpdateHandler previous = CDataView::SetNoticeHandler(RecordNotice);
    const auto restore = qScopeGuard([previous] { CDataView::SetNoticeHandler(previous); });

    // 200 refreshes 16 ms apart, 4 KiB each, the buffer trimmed as the
    // window trims it; then the interval ends and what waited goes.
    const QByteArray chunk = NumberedLines(400).left(4096);
    QByteArray buffer;
    qint64 nStart = 0;
    for (int i = 0; i < 200; ++i, now += 16) {
        nStart += ReceiveBuffer::AppendAndTrim(buffer, chunk);
        m_pView->SetBuffer(buffer, nStart, bHex);
    }
    now += m_pView->ChangeNotices().Limits().nIntervalMs;
    QTRY_VERIFY(!m_pView->ChangeNotices().IsPending());
    QVERIFY(nStart > 0); // trimmed

    const int nMaxNotices = 1 + int(now / m_pView->ChangeNotices().Limits().nIntervalMs);
    const int nMaxText = std::min(m_pView->ChangeNotices().Limits().nMaxChars,
                                  CDataView::kNoticeRows * (m_pView->Columns() + 1));
    int nInserts = 0, nRemoves = 0;
    for (const SNotice& notice : std::as_const(g_notices)) {
        ++(notice.bInsert ? nInserts : nRemoves);
        QVERIFY2(notice.bInsert ? notice.text.size() <= nMaxText
                                : notice.position == 0 && notice.text.isEmpty(),
                 qPrintable(notice.text));
    }
    QVERIFY2(nInserts >= 2 && nInserts <= nMaxNotices, qPrintable(QString::number(nInserts)));
    QVERIFY(nRemoves >= 1 && nRemoves <= nInserts);

    // The last notice is the real end of the text, and the text interface
    // reads what is on screen.
    QAccessibleTextInterface* pText =
        QAccessible::queryAccessibleInterface(m_pView)->textInterface();
    const int nCount = pText->characterCount();
    const SNotice& last = g_notices.constLast();
    QVERIFY(last.bInsert);
    QCOMPARE(last.position + last.text.size(), nCount);
    QCOMPARE(pText->text(last.position, nCount), last.text);
    QCOMPARE(m_pView->TopRow() + m_pView->VisibleRowCount(), m_pView->TotalRows());
    const int nTop = m_pView->TopRow();
    int start = -1, end = -1;
    const QString row = pText->textAtOffset(m_pView->Layout().RowStartOffset(nTop),
                                            QAccessible::LineBoundary, &start, &end);
    QCOMPARE(row, m_pView->VisibleRows().constFirst() +
                      (m_pView->Layout().RowEndsLine(nTop) ? "\n" : ""));
}

QTEST_MAIN(TestDataView)
#include "tst_dataview.moc"
