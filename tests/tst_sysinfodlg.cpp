// The System Information dialog, fed with a recorded machine; its modal run
// is replaced so that nothing blocks.

#include "Afx.h"
#include "CSysInfoDlg.h"
#include "DialogUnits.h"
#include "DrawTransparentBitmap.h"
#include "RecordedSysInfoSource.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextLayout>
#include <QtTest>

namespace {

const COLORREF kBack = RGB(12, 34, 56);
const COLORREF kText = RGB(250, 200, 100);

QString Recording(const char* machine)
{
    return QStringLiteral(VORNTERM_TEST_DATA "/sysinfo/") + QLatin1String(machine) +
           QStringLiteral(".ini");
}

// Runs the dialog through DoModal with the modal loop replaced by `inspect`.
void RunModal(CSysInfoDlg& dlg, const std::function<void(QDialog&)>& inspect = {})
{
    AfxHooks hooks;
    hooks.doModal = [&](QDialog& d) {
        d.show();
        QCoreApplication::processEvents();
        if (inspect)
            inspect(d);
        d.hide();
        return IDOK;
    };
    AfxScopedHooks guard(hooks);
    QCOMPARE(dlg.DoModal(), IDOK);
}

QColor Rgb(COLORREF cr)
{
    return ToQColor(cr);
}

} // namespace

class TestSysInfoDlg : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void templateLayout();
    void panesShowRecordedTexts();
    void queriesInOrder();
    void eachOpeningQueriesAfresh();
    void coloursForDialogAndPanesNotDone();
    void panesAreReadOnlyWithoutScrollBars();
    void tabOrderAndFocus();
    void logoPaintedAt17();
    void doneAccepts();
    void dialogUnits();
};

void TestSysInfoDlg::templateLayout()
{
    CSysInfoDlg dlg;
    CRecordedSysInfoSource source(Recording("winxp-sp2"));
    dlg.SetSource(&source);
    RunModal(dlg);
    const CDialogUnits du(dlg.font());
    QCOMPARE(dlg.windowTitle(), QStringLiteral("System Information"));
    QCOMPARE(dlg.size(), QSize(du.X(385), du.Y(190)));
    QCOMPARE(dlg.DoneButton()->text(), QStringLiteral("Done"));
    QVERIFY(dlg.DoneButton()->isDefault());
    QCOMPARE(dlg.DoneButton()->geometry(), du.Rect(20, 160, 50, 14));
    QCOMPARE(dlg.m_editSummary->geometry(), du.Rect(90, 15, 150, 90));
    QCOMPARE(dlg.m_editDisk->geometry(), du.Rect(90, 110, 150, 70));
    QCOMPARE(dlg.m_editMemory->geometry(), du.Rect(250, 15, 120, 166));
    QCOMPARE(dlg.m_editSummary->objectName(), QStringLiteral("1032"));
    QCOMPARE(dlg.m_editDisk->objectName(), QStringLiteral("1033"));
    QCOMPARE(dlg.m_editMemory->objectName(), QStringLiteral("1034"));
}

void TestSysInfoDlg::panesShowRecordedTexts()
{
    CRecordedSysInfoSource source(Recording("winxp-sp2"));
    CSysInfoDlg dlg;
    dlg.SetSource(&source);
    RunModal(dlg);
    QCOMPARE(dlg.m_editSummary->toPlainText(),
             QStringLiteral("User: technician\nIntel(R) Pentium(R) 4 CPU 2.80GHz\n\nWinXP\n"
                            "Service Pack 2\n\nProtocols Installed:\nDECNet\nTCP\\IP\n"));
    QCOMPARE(dlg.m_editDisk->toPlainText(), QStringLiteral("\tDisk Space:\n\n"
                                                           "Disk Space Available: \t40000 MB\n"
                                                           "Total Disk Size: \t\t76316 MB\n"
                                                           "Percent Used: \t\t48%\n"
                                                           "Disk Space Used: \t\t36316 MB"));
    QCOMPARE(dlg.m_editMemory->toPlainText(), QStringLiteral("\tRAM Status:\n\n"
                                                             "Total Physical RAM: \t1023\n"
                                                             "Total Available RAM: \t511\n"
                                                             "Percent Used: \t\t50%\n"
                                                             "Total Virtual RAM: \t\t2047\n"
                                                             "Available Virtual RAM: \t2008\n"));
}

void TestSysInfoDlg::queriesInOrder()
{
    CRecordedSysInfoSource source(Recording("nt4-sp6"));
    CScopedSysInfoSource scoped(&source); // the way the About box's dialog gets it
    CSysInfoDlg dlg;
    RunModal(dlg);
    QCOMPARE(source.calls, QStringList({"disk", "memory", "version", "version",
                                        "protocols:WinNT4.0", "processor:WinNT4.0", "user"}));
}

void TestSysInfoDlg::eachOpeningQueriesAfresh()
{
    CRecordedSysInfoSource source(Recording("winxp-sp2"));
    CScopedSysInfoSource scoped(&source);
    QString firstDisk;
    {
        CSysInfoDlg dlg;
        RunModal(dlg);
        firstDisk = dlg.m_editDisk->toPlainText();
        QVERIFY(firstDisk.contains(QStringLiteral("Available: \t40000 MB")));
    }
    source.AddFreeBytes(quint64(1000) << 20);
    {
        CSysInfoDlg dlg;
        RunModal(dlg);
        QVERIFY(dlg.m_editDisk->toPlainText().contains(QStringLiteral("Available: \t41000 MB")));
        // The same object opened again asks again too.
        source.AddFreeBytes(quint64(1000) << 20);
        RunModal(dlg);
        QVERIFY(dlg.m_editDisk->toPlainText().contains(QStringLiteral("Available: \t42000 MB")));
    }
    QCOMPARE(source.calls.count(QStringLiteral("disk")), 3);
    QCOMPARE(source.calls.count(QStringLiteral("user")), 3);
}

void TestSysInfoDlg::coloursForDialogAndPanesNotDone()
{
    CRecordedSysInfoSource source(Recording("winxp-sp2"));
    CSysInfoDlg dlg;
    dlg.SetSource(&source);
    dlg.m_crBack = kBack;
    dlg.m_crText = kText;
    QImage shot;
    RunModal(dlg, [&](QDialog& d) { shot = d.grab().toImage(); });

    QCOMPARE(dlg.palette().color(QPalette::Window), Rgb(kBack));
    for (QPlainTextEdit* pane : {dlg.m_editSummary, dlg.m_editDisk, dlg.m_editMemory}) {
        QCOMPARE(pane->palette().color(QPalette::Base), Rgb(kBack));
        QCOMPARE(pane->palette().color(QPalette::Text), Rgb(kText));
        QCOMPARE(pane->viewport()->palette().color(QPalette::Base), Rgb(kBack));
        // On screen: the pane's inside shows the background colour.
        const QPoint inside = pane->geometry().bottomRight() - QPoint(6, 6);
        QCOMPARE(QColor(shot.pixel(inside)), Rgb(kBack));
    }
    const QPalette system = QApplication::palette(dlg.DoneButton());
    QCOMPARE(dlg.DoneButton()->palette().color(QPalette::Button), system.color(QPalette::Button));
    QCOMPARE(dlg.DoneButton()->palette().color(QPalette::ButtonText),
             system.color(QPalette::ButtonText));
    QCOMPARE(dlg.DoneButton()->palette().color(QPalette::Window), system.color(QPalette::Window));
    QVERIFY(dlg.DoneButton()->palette().color(QPalette::Window) != Rgb(kBack));

    // Dialog background away from logo, panes and button.
    QCOMPARE(QColor(shot.pixel(3, shot.height() - 3)), Rgb(kBack));
}

void TestSysInfoDlg::panesAreReadOnlyWithoutScrollBars()
{
    CRecordedSysInfoSource source(Recording("winxp-sp2"));
    CSysInfoDlg dlg;
    dlg.SetSource(&source);
    RunModal(dlg, [&](QDialog&) {
        for (QPlainTextEdit* pane : {dlg.m_editSummary, dlg.m_editDisk, dlg.m_editMemory}) {
            QVERIFY(pane->isReadOnly());
            QCOMPARE(pane->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
            QCOMPARE(pane->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
            QCOMPARE(pane->lineWrapMode(), QPlainTextEdit::WidgetWidth);
            QVERIFY(pane->textInteractionFlags() & Qt::TextSelectableByMouse);
            QVERIFY(pane->textInteractionFlags() & Qt::TextSelectableByKeyboard);
            const QString before = pane->toPlainText();
            QTest::keyClicks(pane, QStringLiteral("xyz"));
            QTest::keyClick(pane, Qt::Key_Backspace);
            QTest::keyClick(pane, Qt::Key_Delete);
            QCOMPARE(pane->toPlainText(), before);
            pane->selectAll();
            QCOMPARE(pane->textCursor().selectedText().size(), before.size());
        }
    });
    // A line longer than the pane wraps in place; the pane keeps its size.
    const QSize size = dlg.m_editSummary->size();
    dlg.m_editSummary->setPlainText(QString(400, QLatin1Char('w')));
    QCOMPARE(dlg.m_editSummary->size(), size);
    QVERIFY(dlg.m_editSummary->document()->firstBlock().layout()->lineCount() > 1);
}

void TestSysInfoDlg::tabOrderAndFocus()
{
    CRecordedSysInfoSource source(Recording("winxp-sp2"));
    CSysInfoDlg dlg;
    dlg.SetSource(&source);
    RunModal(dlg, [&](QDialog& d) {
        QCOMPARE(d.focusWidget(), dlg.DoneButton());
        QWidget* chain[] = {dlg.DoneButton(), dlg.m_editSummary, dlg.m_editDisk, dlg.m_editMemory};
        for (int i = 0; i < 3; ++i) {
            QWidget* next = chain[i]->nextInFocusChain();
            while (next->focusPolicy() == Qt::NoFocus || !d.isAncestorOf(next))
                next = next->nextInFocusChain();
            QCOMPARE(next, chain[i + 1]);
        }
        QVERIFY(dlg.m_editSummary->tabChangesFocus());
    });
}

void TestSysInfoDlg::logoPaintedAt17()
{
    const QImage logo =
        LoadBitmapResource(CSysInfoDlg::kLogoBitmap).convertToFormat(QImage::Format_RGB32);
    QVERIFY(!logo.isNull());
    CRecordedSysInfoSource source(Recording("winxp-sp2"));
    CSysInfoDlg dlg;
    dlg.SetSource(&source);
    dlg.m_crBack = kBack;
    dlg.m_crText = kText;
    QImage shot;
    RunModal(dlg,
             [&](QDialog& d) { shot = d.grab().toImage().convertToFormat(QImage::Format_RGB32); });

    // Only the logo's part left of the summary pane is free to compare.
    const int freeWidth = qMin(logo.width(), dlg.m_editSummary->x() - CSysInfoDlg::kLogoX);
    int opaque = 0, seeThrough = 0;
    for (int y = 0; y < logo.height(); ++y) {
        for (int x = 0; x < freeWidth; ++x) {
            const QRgb want =
                logo.pixel(x, y) == qRgb(255, 255, 255) ? Rgb(kBack).rgb() : logo.pixel(x, y);
            const QRgb got = shot.pixel(CSysInfoDlg::kLogoX + x, CSysInfoDlg::kLogoY + y);
            QCOMPARE(got, want);
            ++(want == Rgb(kBack).rgb() ? seeThrough : opaque);
        }
    }
    QVERIFY(opaque > 0);
    QVERIFY(seeThrough > 0);
    // Just outside the logo's corner: background.
    QCOMPARE(shot.pixel(CSysInfoDlg::kLogoX - 1, CSysInfoDlg::kLogoY - 1), Rgb(kBack).rgb());
}

void TestSysInfoDlg::doneAccepts()
{
    CRecordedSysInfoSource source(Recording("winxp-sp2"));
    CSysInfoDlg dlg;
    dlg.SetSource(&source);
    RunModal(dlg, [&](QDialog& d) {
        QSignalSpy accepted(&d, &QDialog::accepted);
        QTest::mouseClick(dlg.DoneButton(), Qt::LeftButton);
        QCOMPARE(accepted.count(), 1);
    });
}

void TestSysInfoDlg::dialogUnits()
{
    const QFont font = CDialogUnits::DialogFont();
    QCOMPARE(font.pointSize(), 8);
    const CDialogUnits du(font);
    const QFontMetrics fm(font);
    const int avg = (fm.horizontalAdvance(
                         QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
                         26 +
                     1) /
                    2;
    QCOMPARE(du.BaseX(), avg);
    QCOMPARE(du.BaseY(), fm.height());
    QCOMPARE(du.X(4), avg);
    QCOMPARE(du.Y(8), fm.height());
    QCOMPARE(du.X(400), 100 * avg);
    QCOMPARE(du.Y(160), 20 * fm.height());
    QCOMPARE(du.Rect(4, 8, 8, 16), QRect(avg, fm.height(), 2 * avg, 2 * fm.height()));
}

QTEST_MAIN(TestSysInfoDlg)
#include "tst_sysinfodlg.moc"
