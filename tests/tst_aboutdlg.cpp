// The About box: texts, licence document, colours, logo and the System
// button, with every modal run replaced so that nothing blocks.

#include "Afx.h"
#include "CAboutDlg.h"
#include "CHyperLink.h"
#include "CSysInfoDlg.h"
#include "DialogUnits.h"
#include "DrawTransparentBitmap.h"
#include "RecordedSysInfoSource.h"
#include "StringTable.h"

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextEdit>
#include <QtTest>

namespace {

// Runs the box through DoModal with the modal loop replaced by `inspect`.
void RunModal(CAboutDlg& dlg, const std::function<void(CAboutDlg&)>& inspect = {})
{
    AfxHooks hooks;
    hooks.doModal = [&](QDialog& d) {
        d.show();
        QCoreApplication::processEvents();
        if (inspect)
            inspect(dlg);
        d.hide();
        return IDOK;
    };
    AfxScopedHooks guard(hooks);
    QCOMPARE(dlg.DoModal(), IDOK);
}

// What the Terminal window's About command hands the box.
void SetOpenerLines(CAboutDlg& dlg)
{
    dlg.SetProductLines(QString(), LoadVersionString(), QStringLiteral("VornTerm"), QString(),
                        QString());
}

QString WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

bool AllBlocksCentred(QTextEdit* edit)
{
    for (QTextBlock b = edit->document()->begin(); b.isValid(); b = b.next()) {
        if (b.blockFormat().alignment() != Qt::AlignHCenter)
            return false;
    }
    return true;
}

} // namespace

class TestAboutDlg : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void constructorFillsContactSlots();
    void textsReachControlsOnOpening();
    void captionIsAboutAndName();
    void prefixes_data();
    void prefixes();
    void linkTargetsAndTooltips();
    void licenseLines_data();
    void licenseLines();
    void licenseTextItself();
    void licenseMissing();
    void licenseFallbackCopy();
    void shippedLicense();
    void coloursLinksKeepTheirOwn();
    void logoPaintedAt55x20();
    void systemButtonHandsColours();
    void enterPressesTheFocusedButton_data();
    void enterPressesTheFocusedButton();
    void bindingAndTabOrder();
    void versionString();
};

void TestAboutDlg::constructorFillsContactSlots()
{
    CAboutDlg dlg;
    QCOMPARE(dlg.m_strAddress1, QStringLiteral("Vorn Instruments Ltd."));
    QCOMPARE(dlg.m_strCaptionName, dlg.m_strAddress1);
    QVERIFY(!dlg.m_strAddress2.isEmpty() && !dlg.m_strAddress3.isEmpty() &&
            !dlg.m_strAddress4.isEmpty());
    QCOMPARE(dlg.m_strWebSite, QStringLiteral("www.vorn.example"));
    QCOMPARE(dlg.m_strWebTarget, dlg.m_strWebSite);
    QCOMPARE(dlg.m_strEmail, QStringLiteral("support@vorn.example"));
    QCOMPARE(dlg.m_strEmailTarget, QStringLiteral("mailto:support@vorn.example"));
    QVERIFY(dlg.m_bWebPrefix);
    QVERIFY(dlg.m_bPhonePrefix);
    QVERIFY(!dlg.m_strPhone.isEmpty() && !dlg.m_strFax.isEmpty());
    QVERIFY(dlg.m_bLicenseIsFile);
    QVERIFY(dlg.m_strLicense.endsWith(QStringLiteral("/VornLicense.txt")));
    const QPalette system = QApplication::palette();
    QCOMPARE(dlg.m_crBack, FromQColor(system.color(QPalette::Button)));
    QCOMPARE(dlg.m_crText, FromQColor(system.color(QPalette::ButtonText)));
    // Nothing is bound before the box opens.
    QVERIFY(!dlg.m_editAddress);
    QCOMPARE(dlg.windowTitle(), QStringLiteral("About VornAbout"));
}

void TestAboutDlg::textsReachControlsOnOpening()
{
    CAboutDlg dlg;
    SetOpenerLines(dlg);
    RunModal(dlg);
    QCOMPARE(dlg.m_editAddress->toPlainText(),
             QStringLiteral("Vorn Instruments Ltd.\n14 Harbour Lane\nP.O. Box 2026\n"
                            "Vornhaven, VN 00042"));
    QCOMPARE(dlg.m_editProduct->toPlainText(), QStringLiteral("\n1.00\nVornTerm\n\n"));
    QCOMPARE(dlg.m_editProduct->document()->blockCount(), 5);
    QVERIFY(AllBlocksCentred(dlg.m_editAddress));
    QVERIFY(AllBlocksCentred(dlg.m_editProduct));
    QCOMPARE(dlg.m_staticPhone->text(), QStringLiteral("Phone: 1-800-555-0142"));
    QCOMPARE(dlg.m_staticFax->text(), QStringLiteral("Fax: 1-800-555-0143"));
    QCOMPARE(dlg.m_linkWeb->text(), QStringLiteral("Web Site: www.vorn.example"));
    QCOMPARE(dlg.m_linkEmail->text(), QStringLiteral("support@vorn.example"));
    for (QTextEdit* edit : {dlg.m_editAddress, dlg.m_editProduct}) {
        QVERIFY(edit->isReadOnly());
        QCOMPARE(edit->frameShape(), QFrame::NoFrame);
    }
    QVERIFY(dlg.m_editLicense->isReadOnly());
    QCOMPARE(dlg.m_editLicense->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

    // Later changes of the slots do not reach the open box.
    dlg.SetPhone(QStringLiteral("0"), false);
    QCOMPARE(dlg.m_staticPhone->text(), QStringLiteral("Phone: 1-800-555-0142"));
}

void TestAboutDlg::captionIsAboutAndName()
{
    CAboutDlg dlg;
    dlg.SetCaptionName(QStringLiteral("Vorn %1 Works"));
    RunModal(dlg, [](CAboutDlg& d) {
        QCOMPARE(d.windowTitle(), QStringLiteral("About Vorn %1 Works"));
    });
}

void TestAboutDlg::prefixes_data()
{
    QTest::addColumn<bool>("bPrefix");
    QTest::addColumn<QString>("phoneLine");
    QTest::addColumn<QString>("webLine");
    QTest::newRow("prefixes on") << true << "Phone: 555-0100"
                                 << "Web Site: vorn.example";
    QTest::newRow("prefixes off") << false << "555-0100"
                                  << "vorn.example";
}

void TestAboutDlg::prefixes()
{
    QFETCH(bool, bPrefix);
    QFETCH(QString, phoneLine);
    QFETCH(QString, webLine);
    CAboutDlg dlg;
    dlg.SetPhone(QStringLiteral("555-0100"), bPrefix);
    dlg.SetWebSite(QStringLiteral("vorn.example"), bPrefix);
    dlg.SetFax(QStringLiteral("555-0199"));
    RunModal(dlg);
    QCOMPARE(dlg.m_staticPhone->text(), phoneLine);
    QCOMPARE(dlg.m_linkWeb->text(), webLine);
    QCOMPARE(dlg.m_staticFax->text(), QStringLiteral("Fax: 555-0199"));
}

void TestAboutDlg::linkTargetsAndTooltips()
{
    CAboutDlg dlg;
    QStringList opened;
    AfxHooks hooks;
    hooks.openTarget = [&](const QString& target) {
        opened << target;
        return true;
    };
    AfxScopedHooks guard(hooks);
    RunModal(dlg, [&](CAboutDlg& d) {
        QCOMPARE(d.m_linkWeb->GetTarget(), QStringLiteral("www.vorn.example"));
        QCOMPARE(d.m_linkWeb->toolTip(), QStringLiteral("www.vorn.example"));
        QCOMPARE(d.m_linkEmail->GetTarget(),
                 QStringLiteral("mailto:support@vorn.example"));
        QCOMPARE(d.m_linkEmail->toolTip(),
                 QStringLiteral("mailto:support@vorn.example"));
        QTest::mouseClick(d.m_linkEmail, Qt::LeftButton);
        QTest::mouseClick(d.m_linkWeb, Qt::LeftButton);
    });
    QCOMPARE(opened.size(), 2);
    QCOMPARE(opened[0], QStringLiteral("mailto:support@vorn.example"));
    QVERIFY(opened[1].endsWith(QStringLiteral("www.vorn.example")));
    QVERIFY(dlg.m_linkEmail->IsVisited());
}

void TestAboutDlg::licenseLines_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("text");
    QTest::newRow("two lines, LF at the end")
        << QByteArray("first\nsecond\n") << "first\r\nsecond\r\n\r\n";
    QTest::newRow("two lines, no line end at the end")
        << QByteArray("first\nsecond") << "first\r\nsecond\r\n\r\n";
    QTest::newRow("two lines, CR LF")
        << QByteArray("first\r\nsecond\r\n") << "first\r\nsecond\r\n\r\n";
    QTest::newRow("empty file") << QByteArray() << "\r\n";
    QTest::newRow("one empty line") << QByteArray("\n") << "\r\n\r\n";
    QTest::newRow("blank line inside") << QByteArray("a\r\n\nb") << "a\r\n\r\nb\r\n\r\n";
    QTest::newRow("long line") << QByteArray(5000, 'x') + '\n'
                               << QString(5000, QLatin1Char('x')) + "\r\n\r\n";
}

void TestAboutDlg::licenseLines()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, text);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = WriteFile(dir, QStringLiteral("VornLicense.txt"), file);
    QCOMPARE(CAboutDlg::ReadLicenseText(path, true), text);

    CAboutDlg dlg;
    dlg.SetLicenseText(path, true);
    RunModal(dlg);
    QCOMPARE(dlg.m_editLicense->toPlainText(), ToEditText(text));
}

void TestAboutDlg::licenseTextItself()
{
    QCOMPARE(CAboutDlg::ReadLicenseText(QStringLiteral("Use freely."), false),
             QStringLiteral("Use freely."));
    CAboutDlg dlg;
    dlg.SetLicenseText(QStringLiteral("Line one\r\nLine two"), false);
    RunModal(dlg);
    QCOMPARE(dlg.m_editLicense->toPlainText(), QStringLiteral("Line one\nLine two"));
}

void TestAboutDlg::licenseMissing()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString missing = dir.filePath(QStringLiteral("VornLicense.txt"));
    QCOMPARE(CAboutDlg::ReadLicenseText(missing, true), QString());
    CAboutDlg dlg;
    dlg.SetLicenseText(missing, true);
    RunModal(dlg);
    QCOMPARE(dlg.m_editLicense->toPlainText(), QString());

    // A directory of that name is no document either.
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    QCOMPARE(CAboutDlg::ReadLicenseText(dir.filePath(QStringLiteral("sub")), true), QString());
}

void TestAboutDlg::licenseFallbackCopy()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    QDir r(root.path());
    QVERIFY(r.mkpath(QStringLiteral("cwd")) && r.mkpath(QStringLiteral("prefix/bin")) &&
            r.mkpath(QStringLiteral("prefix/share/vornterm")));
    const QString cwd = r.filePath(QStringLiteral("cwd"));
    const QString bin = r.filePath(QStringLiteral("prefix/bin"));
    const QString share = r.filePath(QStringLiteral("prefix/share/vornterm/VornLicense.txt"));
    const QString beside = bin + QStringLiteral("/VornLicense.txt");
    const QString inCwd = cwd + QStringLiteral("/VornLicense.txt");

    // Nowhere: the current directory's name, which shows empty.
    QCOMPARE(CAboutDlg::FindLicenseDocument(cwd, bin), inCwd);
    QCOMPARE(CAboutDlg::FindLicenseDocument(cwd, QString()), inCwd);

    QFile::copy(QStringLiteral(VORNTERM_SOURCE_DIR "/res/VornLicense.txt"), share);
    QCOMPARE(CAboutDlg::FindLicenseDocument(cwd, bin), share);

    QVERIFY(QFile(beside).open(QIODevice::WriteOnly));
    QCOMPARE(CAboutDlg::FindLicenseDocument(cwd, bin), beside);

    QFile local(inCwd);
    QVERIFY(local.open(QIODevice::WriteOnly));
    local.write("local terms\n");
    local.close();
    QCOMPARE(CAboutDlg::FindLicenseDocument(cwd, bin), inCwd);

    // The box opened from a directory without a document shows the
    // installed copy.
    QVERIFY(QFile::remove(inCwd) && QFile::remove(beside));
    CAboutDlg dlg;
    dlg.SetLicenseText(CAboutDlg::FindLicenseDocument(cwd, bin), true);
    RunModal(dlg);
    QVERIFY(dlg.m_editLicense->toPlainText().startsWith(QStringLiteral("MIT License\n")));

    // The constructor looks in the current directory first.
    const QString saved = QDir::currentPath();
    QVERIFY(QFile(inCwd).open(QIODevice::WriteOnly));
    QVERIFY(QDir::setCurrent(cwd));
    CAboutDlg fromCwd;
    QDir::setCurrent(saved);
    QCOMPARE(QFileInfo(fromCwd.m_strLicense).canonicalFilePath(),
             QFileInfo(inCwd).canonicalFilePath());
}

void TestAboutDlg::shippedLicense()
{
    const QString text = CAboutDlg::ReadLicenseText(
        QStringLiteral(VORNTERM_SOURCE_DIR "/res/VornLicense.txt"), true);
    QVERIFY(text.startsWith(QStringLiteral("MIT License\r\n\r\n")));
    QVERIFY(text.contains(QStringLiteral("Copyright (c) 2026 the VornTerm authors\r\n")));
    QVERIFY(text.endsWith(QStringLiteral("SOFTWARE.\r\n\r\n")));
}

void TestAboutDlg::coloursLinksKeepTheirOwn()
{
    const COLORREF back = RGB(235, 235, 200);
    const COLORREF text = RGB(0, 140, 0);
    CAboutDlg dlg;
    dlg.m_crBack = back;
    dlg.m_crText = text;
    QImage shot;
    RunModal(dlg, [&](CAboutDlg& d) {
        shot = d.grab().toImage().convertToFormat(QImage::Format_RGB32);
    });

    QCOMPARE(dlg.palette().color(QPalette::Window), ToQColor(back));
    for (QWidget* w :
         std::initializer_list<QWidget*>{dlg.m_editAddress, dlg.m_editProduct, dlg.m_editLicense}) {
        QCOMPARE(w->palette().color(QPalette::Base), ToQColor(back));
        QCOMPARE(w->palette().color(QPalette::Text), ToQColor(text));
    }
    for (QLabel* l : {dlg.m_staticFax, dlg.m_staticPhone})
        QCOMPARE(l->palette().color(QPalette::WindowText), ToQColor(text));
    const QPalette system = QApplication::palette();
    for (QPushButton* b : {dlg.DoneButton(), dlg.m_btnSystem}) {
        QCOMPARE(b->palette().color(QPalette::Button), system.color(QPalette::Button));
        QCOMPARE(b->palette().color(QPalette::ButtonText), system.color(QPalette::ButtonText));
    }

    // On screen the links draw blue, never the box's text colour, over the
    // box's background.
    for (CHyperLink* link : {dlg.m_linkWeb, dlg.m_linkEmail}) {
        QCOMPARE(link->CurrentTextColor(), RGB(0, 0, 255));
        int blue = 0, green = 0;
        const QRect r = link->geometry();
        for (int y = r.top(); y <= r.bottom(); ++y) {
            for (int x = r.left(); x <= r.right(); ++x) {
                const QColor c(shot.pixel(x, y));
                if (c.blue() > c.red() + 60 && c.blue() > c.green() + 60)
                    ++blue;
                if (c.green() > c.red() + 60 && c.green() > c.blue() + 60)
                    ++green;
            }
        }
        QVERIFY2(blue > 0, qPrintable(link->objectName()));
        QCOMPARE(green, 0);
        QCOMPARE(QColor(shot.pixel(r.topLeft())), ToQColor(back));
    }
    // The phone line is drawn in the box's text colour.
    int green = 0;
    const QRect pr = dlg.m_staticPhone->geometry();
    for (int y = pr.top(); y <= pr.bottom(); ++y)
        for (int x = pr.left(); x <= pr.right(); ++x)
            green += QColor(shot.pixel(x, y)).green() > QColor(shot.pixel(x, y)).red() + 60;
    QVERIFY(green > 0);
}

void TestAboutDlg::logoPaintedAt55x20()
{
    const QImage logo =
        LoadBitmapResource(CAboutDlg::kLogoBitmap).convertToFormat(QImage::Format_RGB32);
    QVERIFY(!logo.isNull());
    const COLORREF back = RGB(30, 60, 90);
    CAboutDlg dlg;
    dlg.m_crBack = back;
    QImage shot;
    RunModal(dlg, [&](CAboutDlg& d) {
        shot = d.grab().toImage().convertToFormat(QImage::Format_RGB32);
    });
    const QRect free = QRect(0, 0, dlg.m_editProduct->x(), dlg.m_editAddress->y());
    int opaque = 0, seeThrough = 0;
    for (int y = 0; y < logo.height(); ++y) {
        for (int x = 0; x < logo.width(); ++x) {
            const QPoint at(CAboutDlg::kLogoX + x, CAboutDlg::kLogoY + y);
            if (!free.contains(at))
                continue;
            const bool bWhite = logo.pixel(x, y) == qRgb(255, 255, 255);
            const QRgb want = bWhite ? ToQColor(back).rgb() : logo.pixel(x, y);
            QCOMPARE(shot.pixel(at), want);
            ++(bWhite ? seeThrough : opaque);
        }
    }
    QVERIFY(opaque > 0);
    QVERIFY(seeThrough > 0);
}

void TestAboutDlg::systemButtonHandsColours()
{
    CRecordedSysInfoSource source(QStringLiteral(VORNTERM_TEST_DATA "/sysinfo/winxp-sp2.ini"));
    CScopedSysInfoSource scoped(&source);
    CAboutDlg about;
    about.m_crBack = RGB(1, 2, 3);
    about.m_crText = RGB(4, 5, 6);

    QList<COLORREF> seen;
    int sysInfoRuns = 0;
    bool bAboutStillOpen = false;
    QList<QWidget*> parents;
    QStringList summaries;
    AfxHooks hooks;
    hooks.doModal = [&](QDialog& d) {
        if (auto* info = qobject_cast<CSysInfoDlg*>(&d)) {
            ++sysInfoRuns;
            seen << info->m_crBack << info->m_crText;
            parents << info->parentWidget();
            summaries << info->m_editSummary->toPlainText();
            bAboutStillOpen = about.isVisible();
            return IDOK;
        }
        d.show();
        QTest::mouseClick(about.m_btnSystem, Qt::LeftButton);
        QTest::mouseClick(about.m_btnSystem, Qt::LeftButton);
        d.hide();
        return IDOK;
    };
    AfxScopedHooks guard(hooks);
    about.DoModal();
    QCOMPARE(sysInfoRuns, 2);
    QCOMPARE(seen, QList<COLORREF>({RGB(1, 2, 3), RGB(4, 5, 6), RGB(1, 2, 3), RGB(4, 5, 6)}));
    QVERIFY(bAboutStillOpen);
    QCOMPARE(parents, QList<QWidget*>({&about, &about}));
    QVERIFY(summaries.value(1).startsWith(QStringLiteral("User: technician\n")));
    QCOMPARE(source.calls.count(QStringLiteral("disk")), 2); // each opening asks again
}

void TestAboutDlg::enterPressesTheFocusedButton_data()
{
    QTest::addColumn<int>("focus"); // control id
    QTest::addColumn<bool>("bSystemOpens");
    QTest::newRow("Done") << int(IDOK) << false;
    QTest::newRow("System") << int(CAboutDlg::IDC_SYSTEM) << true;
    QTest::newRow("licence box: Done is the default again") << int(CAboutDlg::IDC_LICENSE) << false;
}

void TestAboutDlg::enterPressesTheFocusedButton()
{
    QFETCH(int, focus);
    QFETCH(bool, bSystemOpens);
    CRecordedSysInfoSource source(QStringLiteral(VORNTERM_TEST_DATA "/sysinfo/winxp-sp2.ini"));
    CScopedSysInfoSource scoped(&source);
    CAboutDlg about;
    int sysInfoRuns = 0;
    bool bClosed = false;
    AfxHooks hooks;
    hooks.doModal = [&](QDialog& d) {
        if (qobject_cast<CSysInfoDlg*>(&d)) {
            ++sysInfoRuns;
            return IDOK;
        }
        d.show();
        d.activateWindow();
        if (!QTest::qWaitForWindowActive(&d, 20000))
            return IDCANCEL;
        // Through the System button, so that the focus leaves it for the
        // licence box as the Tab key would take it.
        about.m_btnSystem->setFocus(Qt::TabFocusReason);
        d.findChild<QWidget*>(QString::number(focus))->setFocus(Qt::TabFocusReason);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        bClosed = !d.isVisible() && d.result() == QDialog::Accepted;
        d.hide();
        return IDOK;
    };
    AfxScopedHooks guard(hooks);
    QCOMPARE(about.DoModal(), IDOK);
    QCOMPARE(sysInfoRuns, bSystemOpens ? 1 : 0);
    QCOMPARE(bClosed, !bSystemOpens);
}

void TestAboutDlg::bindingAndTabOrder()
{
    CAboutDlg dlg;
    RunModal(dlg, [](CAboutDlg& d) {
        QStringList ids;
        for (QObject* child : d.children()) {
            if (auto* w = qobject_cast<QWidget*>(child); w && w->objectName() != "1")
                ids << w->objectName();
        }
        QCOMPARE(ids,
                 QStringList({"1024", "1026", "1027", "1029", "1028", "1030", "1025", "1031"}));

        QCOMPARE(d.focusWidget(), d.DoneButton());
        QWidget* chain[] = {d.DoneButton(),  d.m_editAddress, d.m_editProduct,
                            d.m_editLicense, d.m_btnSystem,   d.DoneButton()};
        for (int i = 0; i + 1 < 6; ++i) {
            QWidget* next = chain[i]->nextInFocusChain();
            while (next->focusPolicy() == Qt::NoFocus || !d.isAncestorOf(next) ||
                   qobject_cast<QScrollBar*>(next))
                next = next->nextInFocusChain();
            QCOMPARE(next, chain[i + 1]);
        }
        const CDialogUnits du(d.font());
        QCOMPARE(d.size(), QSize(du.X(400), du.Y(190)));
        QCOMPARE(d.m_editLicense->geometry(), du.Rect(138, 65, 251, 120));
        QCOMPARE(d.m_linkEmail->geometry(), du.Rect(20, 120, 108, 9));
        QCOMPARE(d.m_btnSystem->text(), QStringLiteral("System"));
        QVERIFY(d.DoneButton()->isDefault());
    });
}

void TestAboutDlg::versionString()
{
    QCOMPARE(LoadVersionString(), QStringLiteral("1.00"));
    QCOMPARE(LoadStringResource(IDS_VERSION), QStringLiteral("1.00"));
    QCOMPARE(LoadStringResource(2), QString());
}

QTEST_MAIN(TestAboutDlg)
#include "tst_aboutdlg.moc"
