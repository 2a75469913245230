// The arrival times in the data window: off at every start, the time of each
// row's first byte and the port's events once asked for through the context
// menu, a tooltip on received bytes, none for bytes without a time.

#include "CArrivalColumn.h"
#include "CDataView.h"
#include "TerminalFixture.h"

#include <QCheckBox>
#include <QDateTime>
#include <QMenu>
#include <QTest>

namespace {

const qint64 kT1 = QDateTime(QDate(2026, 12, 8), QTime(14, 3, 10, 123)).toMSecsSinceEpoch() * 1000;

KrBlockTimes TimesAt(qint64 nWallUs)
{
    return KrBlockTimes(KrTimeStamp{nWallUs, nWallUs});
}

// A received block, appended as the receive sink appends it.
void Received(CTerminalDlg& dlg, const QByteArray& block, const KrBlockTimes& times)
{
    dlg.AppendText(block, &times);
}

QString RowTime(CArrivalColumn& column, CDataView& view, int row)
{
    CDataLayout::Cells cells;
    view.Layout().RowCells(row, cells);
    return column.TimeText(cells);
}

} // namespace

class TestArrivalTimes : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void columnShowsEachRowsFirstByteOnRequest();
    void timesAreTrimmedWithTheBuffer();
    void sentBytesShowAsOneLineEach();
    void aRowsNewestEventShowsWhereTheyDoNotAllFit();
};

void TestArrivalTimes::columnShowsEachRowsFirstByteOnRequest()
{
    TerminalFixture fx;
    auto dlg = fx.Start();
    CDataView& view = *dlg->DataView();
    auto* pColumn = view.findChild<CArrivalColumn*>();
    QVERIFY(pColumn);
    QVERIFY(!pColumn->IsShown());
    QCOMPARE(pColumn->Width(), 0);

    // "line two" came in two reads, the second 20 ms later; "echo" has no
    // time; then the device went away.
    Received(*dlg, "line one\r\n", TimesAt(kT1));
    KrBlockTimes joined = TimesAt(kT1 + 500000);
    joined.Join(2, TimesAt(kT1 + 520000));
    Received(*dlg, "line two\r\n", joined);
    dlg->AppendText("echo");
    dlg->AppendPortEvent(KrPortEvent{KrPortEventKind::Lost,
                                     QStringLiteral("the device was removed"),
                                     KrTimeStamp{kT1 + 900000, 1}});
    dlg->FlushRefresh();

    std::unique_ptr<QMenu> pMenu(view.CreateContextMenu(dlg.get()));
    QAction* pShow = nullptr;
    for (QAction* pAction : pMenu->actions()) {
        if (pAction->text() == QLatin1String("Show Arrival Times"))
            pShow = pAction;
    }
    QVERIFY(pShow && pShow->isCheckable() && !pShow->isChecked());
    pShow->trigger();
    QVERIFY(pColumn->IsShown());
    QVERIFY(pColumn->Width() > 0);

    QCOMPARE(RowTime(*pColumn, view, 0), QStringLiteral("14:03:10.123"));
    QCOMPARE(RowTime(*pColumn, view, 1), QStringLiteral("14:03:10.623"));
    QCOMPARE(RowTime(*pColumn, view, 2), QString()); // the echo
    CDataLayout::Cells last;
    view.Layout().RowCells(2, last);
    QCOMPARE(pColumn->EventTexts(last, false),
             QStringList{"14:03:11.023 disconnected: the device was removed"});
    // The tooltip of the fourth byte of "line two", read 20 ms later.
    const int nOffset = int(view.Layout().RowStartOffset(1)) + 3;
    QCOMPARE(pColumn->ToolTipAt(view.CharacterRect(nOffset).center()),
             QStringLiteral("Arrived 2026-12-08 14:03:10.643000"));
    QCOMPARE(dlg->GetData(), QByteArray("line one\r\nline two\r\necho")); // bytes unchanged
}

void TestArrivalTimes::timesAreTrimmedWithTheBuffer()
{
    TerminalFixture fx;
    auto dlg = fx.Start();
    CDataView& view = *dlg->DataView();
    auto* pColumn = view.findChild<CArrivalColumn*>();
    pColumn->SetShown(true);
    Received(*dlg, "old\r\n", TimesAt(kT1));
    dlg->FlushRefresh();
    // Enough to push "old" out of the buffer.
    const QByteArray big(dlg->GetData().size() + 600000, '.');
    Received(*dlg, big, TimesAt(kT1 + 1000));
    dlg->FlushRefresh();
    QVERIFY(!dlg->GetData().startsWith("old"));
    QCOMPARE(pColumn->WallAt(view.Layout().StreamStart()), kT1 + 1000);
    QCOMPARE(RowTime(*pColumn, view, 0), QStringLiteral("14:03:10.124"));
}

void TestArrivalTimes::sentBytesShowAsOneLineEach()
{
    // A request typed key by key is one line between the received rows, the
    // reply's bytes after it; what is sent next is a line of its own. The
    // buffer's bytes are what was received.
    PtyTerminal fx;
    QVERIFY(fx.opened);
    CDataView& view = *fx.dlg->DataView();
    auto* pColumn = view.findChild<CArrivalColumn*>();
    pColumn->SetShown(true);
    fx.dlg->LocalEchoCheck()->setChecked(true); // the reply is no echo
    QVERIFY(fx.pty.WriteMaster("ready\r\n"));
    QTRY_COMPARE(fx.dlg->GetData(), QByteArray("ready\r\n"));
    QTest::keyClicks(&view, QStringLiteral("AT+CSQ"));
    QTest::keyClick(&view, Qt::Key_Return);
    QCOMPARE(fx.pty.ReadMasterFor(7), QByteArray("AT+CSQ\r"));
    QVERIFY(fx.pty.WriteMaster("+CSQ: 21,0\r\n"));
    QTRY_COMPARE(fx.dlg->GetData(), QByteArray("ready\r\n+CSQ: 21,0\r\n"));
    QTest::keyClick(&view, Qt::Key_Escape);
    fx.dlg->FlushRefresh();
    const auto texts = [&](int row) {
        CDataLayout::Cells cells;
        view.Layout().RowCells(row, cells);
        QStringList out;
        for (const QString& t : pColumn->EventTexts(cells, false))
            out << t.section(QLatin1Char(' '), 1);
        return out;
    };
    QCOMPARE(texts(0), QStringList{"sent 7 bytes: AT+CSQ\\r"});
    QCOMPARE(texts(1), QStringList{"sent 1 byte: \\x1B"});
}

void TestArrivalTimes::aRowsNewestEventShowsWhereTheyDoNotAllFit()
{
    TerminalFixture fx;
    auto dlg = fx.Start();
    dlg->resize(400, 300);
    CDataView& view = *dlg->DataView();
    view.findChild<CArrivalColumn*>()->SetShown(true);
    Received(*dlg, "line\r\n", TimesAt(kT1));
    const auto addEvent = [&](int n) {
        dlg->AppendPortEvent(KrPortEvent{KrPortEventKind::LineChange,
                                         QStringLiteral("DTR off, DSR off, DCD off (%1)").arg(n),
                                         KrTimeStamp{kT1 + n * 1000, 1}});
        dlg->FlushRefresh();
        return view.viewport()->grab().toImage();
    };
    for (int n = 1; n < 8; ++n)
        addEvent(n);
    const QImage crowded = addEvent(8);
    QVERIFY(addEvent(9) != crowded);
}

QTEST_MAIN(TestArrivalTimes)
#include "tst_arrivaltimes.moc"
