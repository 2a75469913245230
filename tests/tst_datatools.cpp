// The data window's toolbox: find, copy as hex or C string, save and send
// bytes, reached through its context menu.

#include "CDataTools.h"
#include "CDataView.h"
#include "CFindBar.h"
#include "CSendBytesDlg.h"
#include "PrivateDesktop.h"
#include "RealProgram.h"
#include "SaveTarget.h"
#include "TerminalFixture.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QTest>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

CDataTools* Tools(CTerminalDlg& dlg)
{
    return dlg.DataView()->findChild<CDataTools*>();
}

// Every byte value, then a marker.
QByteArray AllBytes()
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    return all;
}

} // namespace

class TestDataTools : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void findInTextAndHex_data();
    void findInTextAndHex();
    void findKeepsItsPlaceAcrossATrim();
    void copiesAndSaveGiveTheBytes();
    void saveTakesOnlyAFileOrANewName_data();
    void saveTakesOnlyAFileOrANewName();
    void saveDialogRefusesBeforeAskingToReplace();
    void sendBytes_data();
    void sendBytes();
    void sendBytesRefusesBadInput();
    void sendBytesTakesAMebibytePaste_data();
    void sendBytesTakesAMebibytePaste();
    void menuFromTheKeyboardThroughAccessibility();
    void screenReaderHearsRefusalAndResult();
};

void TestDataTools::findInTextAndHex_data()
{
    QTest::addColumn<bool>("hex");
    QTest::addColumn<QString>("what");
    QTest::newRow("text") << false << "OK\u266B"; // the glyph of 0x0E
    QTest::newRow("hex bytes") << true << "4F 4B 0E";
    QTest::newRow("hex as shown") << true << "[4F] [4B] [0E]";
}

void TestDataTools::findInTextAndHex()
{
    QFETCH(bool, hex);
    QFETCH(QString, what);
    PtyTerminal fx;
    QVERIFY(fx.opened);
    if (hex)
        fx.dlg->OnToggleHex();
    // A full buffer; one match spans two blocks.
    QByteArray filler(100000, 'x');
    for (int i = 0; i < 4; ++i)
        fx.dlg->AppendText(filler + "OK\x0E");
    fx.dlg->AppendText(filler + "O");
    fx.dlg->AppendText("K\x0E" + QByteArray(99990, 'y'));
    fx.dlg->FlushRefresh();
    CDataTools* pTools = Tools(*fx.dlg);
    pTools->OpenFind();
    auto* pEdit = pTools->FindBar()->findChild<QLineEdit*>();
    pEdit->setText(what);
    QCOMPARE(pTools->Matches().Count(), 3);
    QVERIFY2(pTools->FindBar()->Result().endsWith(QStringLiteral(" of 3")),
             qPrintable(pTools->FindBar()->Result()));
    // F3 steps on and sends nothing to the device.
    fx.dlg->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(fx.dlg.get()));
    const qint64 nBefore = pTools->Matches().CurrentPosition();
    QTest::keyClick(fx.dlg.get(), Qt::Key_F3);
    QVERIFY(pTools->Matches().CurrentPosition() != nBefore);
    QTest::keyClick(fx.dlg.get(), Qt::Key_F3, Qt::ShiftModifier);
    QCOMPARE(pTools->Matches().CurrentPosition(), nBefore);
    QCOMPARE(fx.pty.ReadMasterFor(1, 300), QByteArray());
    QCOMPARE(fx.dlg->GetTxCount(), qint64(0));
    // What is typed in the bar stays in the bar.
    QTest::keyClicks(pEdit, hex ? QStringLiteral(" 7A") : QStringLiteral("z"));
    QCOMPARE(fx.pty.ReadMasterFor(1, 300), QByteArray());
    QCOMPARE(pTools->FindBar()->Result(), QStringLiteral("no match"));
}

void TestDataTools::findKeepsItsPlaceAcrossATrim()
{
    TerminalFixture fx;
    auto dlg = fx.Start();
    dlg->AppendText("first ab " + QByteArray(300000, '.') + " second ab");
    dlg->FlushRefresh();
    CDataTools* pTools = Tools(*dlg);
    pTools->OpenFind();
    pTools->FindBar()->findChild<QLineEdit*>()->setText(QStringLiteral("ab"));
    QCOMPARE(pTools->Matches().Count(), 2);
    // The current match is the first in sight: the second.
    const qint64 nSecond = pTools->Matches().CurrentPosition();
    QCOMPARE(nSecond, qint64(dlg->GetData().indexOf(" second ab") + 8));
    // The trim takes the first match away; the current one stays on its
    // bytes, and a new one is found.
    dlg->AppendText(QByteArray(250000, '.') + " third ab");
    dlg->FlushRefresh();
    QCOMPARE(pTools->Matches().Count(), 2);
    QCOMPARE(pTools->Matches().CurrentPosition(), nSecond);
    QCOMPARE(pTools->FindBar()->Result(), QStringLiteral("1 of 2"));
    // Escape closes the bar.
    QTest::keyClick(pTools->FindBar()->findChild<QLineEdit*>(), Qt::Key_Escape);
    QVERIFY(!pTools->FindBar()->isVisible());
}

void TestDataTools::copiesAndSaveGiveTheBytes()
{
    TerminalFixture fx;
    auto dlg = fx.Start();
    const QByteArray all = AllBytes();
    dlg->AppendText("<" + all + ">");
    dlg->FlushRefresh();
    CDataView* pView = dlg->DataView();
    // The selection's bytes, whatever the display shows for them.
    pView->SetSelection(1, pView->CharacterCount() - 1);
    QCOMPARE(pView->SelectedBytes(), all);
    CDataTools* pTools = Tools(*dlg);
    pTools->CopyAsHex();
    QVERIFY(QGuiApplication::clipboard()->text().startsWith(QStringLiteral("00 01 02 ")));
    QVERIFY(QGuiApplication::clipboard()->text().endsWith(QStringLiteral(" FE FF")));
    pTools->CopyAsCString();
    QVERIFY(QGuiApplication::clipboard()->text().startsWith(QStringLiteral("\\x00\\x01")));
    // Saved raw: the NUL bytes themselves, the whole buffer without a
    // selection.
    pView->ClearSelection();
    fx.saveFileName = fx.Path(QStringLiteral("saved.bin"));
    pTools->SaveReceivedData();
    QCOMPARE(ReadFile(fx.Path(QStringLiteral("saved.bin"))), "<" + all + ">");
    // A folder that cannot be written: the file and the reason are named.
    fx.saveFileName = fx.Path(QStringLiteral("no-such-folder/x.bin"));
    pTools->SaveReceivedData();
    QCOMPARE(fx.messages.size(), 1);
    QVERIFY2(fx.messages.first().contains(fx.Path(QStringLiteral("no-such-folder/x.bin"))),
             qPrintable(fx.messages.first()));
}

void TestDataTools::saveTakesOnlyAFileOrANewName_data()
{
    QTest::addColumn<QString>("made"); // what stands at the chosen name
    QTest::addColumn<QString>("why");  // the refusal after the name; empty: saved
    QTest::newRow("FIFO") << "fifo"
                          << "a FIFO (named pipe), not a regular file";
    QTest::newRow("folder") << "folder"
                            << "a folder, not a regular file";
    QTest::newRow("device") << "device"
                            << "a character device, not a regular file";
    QTest::newRow("link to a FIFO") << "link to fifo"
                                    << "a link to a FIFO (named pipe) ('%1/real'), not to a "
                                       "regular file";
    QTest::newRow("link to nothing") << "link to nothing"
                                     << "a link to '%1/real', which does not exist";
    // Through a link, its file gets the bytes and the link stays.
    QTest::newRow("link to a file") << "link to file"
                                    << "";
    QTest::newRow("file") << "file"
                          << "";
}

void TestDataTools::saveTakesOnlyAFileOrANewName()
{
    QFETCH(QString, made);
    QFETCH(QString, why);
    TerminalFixture fx;
    auto dlg = fx.Start();
    dlg->AppendText("received");
    dlg->FlushRefresh();
    const QString dir = QFileInfo(fx.Dir()).canonicalFilePath();
    const QString chosen = dir + QStringLiteral("/chosen");
    const QString real = dir + QStringLiteral("/real");
    const QByteArray path = QFile::encodeName(made.startsWith("link") ? real : chosen);
    if (made.endsWith("fifo"))
        QCOMPARE(::mkfifo(path.constData(), 0600), 0);
    else if (made.endsWith("file"))
        QVERIFY(WriteFile(QString::fromLocal8Bit(path), "old"));
    else if (made == "folder")
        QVERIFY(QDir().mkdir(chosen));
    else if (made == "device" && ::mknod(path.constData(), S_IFCHR | 0600, makedev(1, 3)) != 0)
        QSKIP("no device node can be made here (mknod needs the right to)");
    if (made.startsWith("link"))
        QVERIFY(QFile::link(real, chosen));
    QFileInfo before(chosen);

    fx.saveFileName = chosen;
    Tools(*dlg)->SaveReceivedData();
    if (why.isEmpty()) {
        QVERIFY(fx.messages.isEmpty());
        QCOMPARE(ReadFile(chosen), QByteArray("received"));
        QCOMPARE(QFileInfo(chosen).isSymLink(), made.startsWith("link"));
        return;
    }
    QCOMPARE(fx.messages,
             QStringList{QStringLiteral("Cannot save the received data.\n'%1': %2; choose a "
                                        "regular file or a new name.")
                             .arg(chosen, why.arg(dir))});
    // Left as it was: nothing replaced, nothing made.
    QFileInfo after(chosen);
    QCOMPARE(after.isSymLink(), before.isSymLink());
    QCOMPARE(after.exists(), before.exists());
    QCOMPARE(after.isFile(), false);
    QStringList names = QDir(dir).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    names.removeAll(QStringLiteral("VornTerm.cfg"));
    const QStringList left =
        made == "link to fifo" ? QStringList{"chosen", "real"} : QStringList{"chosen"};
    QCOMPARE(names, left);
}

void TestDataTools::saveDialogRefusesBeforeAskingToReplace()
{
    // The real save dialog: a FIFO chosen in it is refused there, and the
    // question whether to replace it never comes.
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("pipe"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QStringList messages;
    AfxHooks only;
    only.messageBox = [&](const QString& text, int) {
        messages << text;
        return IDOK;
    };
    AfxScopedHooks hooks(only);
    QStringList asked; // a question that came up, answered No
    QTimer guard;
    connect(&guard, &QTimer::timeout, this, [&] {
        if (auto* pBox = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            asked << pBox->text();
            pBox->reject();
        }
    });
    guard.start(50);
    bool bStayedOpen = false;
    QTimer::singleShot(0, this, [&] {
        auto* pDlg = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!pDlg)
            return;
        pDlg->selectFile(fifo);
        QTest::keyClick(pDlg, Qt::Key_Return); // Save
        bStayedOpen = pDlg->isVisible();
        pDlg->reject();
    });
    const QString chosen =
        AfxGetSaveFileName(nullptr, QStringLiteral("received.bin"), &SaveTarget::Refusal);
    QCOMPARE(asked, QStringList());
    QCOMPARE(messages, QStringList{QStringLiteral("a FIFO (named pipe), not a regular file")});
    QVERIFY(bStayedOpen);
    QVERIFY(chosen.isEmpty());
    QVERIFY(QFileInfo(fifo).exists() && !QFileInfo(fifo).isFile());
}

void TestDataTools::sendBytes_data()
{
    QTest::addColumn<int>("form");
    QTest::addColumn<int>("ending");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QByteArray>("sent");
    const int esc = int(CSendBytesDlg::Form::Escaped), hex = int(CSendBytesDlg::Form::Hex);
    QTest::newRow("escapes, CR LF") << esc << int(CSendBytesDlg::Ending::CrLf) << "AT\\t\\\\\\x00"
                                    << QByteArray("AT\t\\\0\r\n", 7);
    QTest::newRow("escapes, none")
        << esc << int(CSendBytesDlg::Ending::None) << "a\\r\\nb" << QByteArray("a\r\nb");
    QTest::newRow("hex, LF") << hex << int(CSendBytesDlg::Ending::Lf) << "02 10 FF 03"
                             << QByteArray("\x02\x10\xFF\x03\n");
    QTest::newRow("hex as shown, CR")
        << hex << int(CSendBytesDlg::Ending::Cr) << "[41][42]" << QByteArray("AB\r");
}

void TestDataTools::sendBytes()
{
    QFETCH(int, form);
    QFETCH(int, ending);
    QFETCH(QString, line);
    QFETCH(QByteArray, sent);
    PtyTerminal fx;
    QVERIFY(fx.opened);
    fx.dlg->LocalEchoCheck()->setChecked(true);
    fx.onModal = [&](QDialog& dlg) {
        auto& send = static_cast<CSendBytesDlg&>(dlg);
        send.LineBox()->setCurrentText(line);
        send.FormBox()->setCurrentIndex(form);
        send.EndingBox()->setCurrentIndex(ending);
        send.SendLine();
        return IDCANCEL;
    };
    Tools(*fx.dlg)->SendBytes();
    QCOMPARE(fx.pty.ReadMasterFor(sent.size() + 1, 2000), sent);
    // As a file send: counted, echoed as one block, the gate set and used.
    QCOMPARE(fx.dlg->GetTxCount(), qint64(sent.size()));
    QCOMPARE(fx.dlg->GetData(), sent);
    QVERIFY(!fx.dlg->IsEchoPending());
}

void TestDataTools::sendBytesRefusesBadInput()
{
    PtyTerminal fx;
    QVERIFY(fx.opened);
    QString error;
    bool bBadWent = true;
    QStringList history;
    fx.onModal = [&](QDialog& dlg) {
        auto& send = static_cast<CSendBytesDlg&>(dlg);
        send.LineBox()->setCurrentText(QStringLiteral("ok\\q"));
        bBadWent = send.SendLine();
        error = send.Error();
        // A good line goes, and is offered again the next time.
        send.LineBox()->setCurrentText(QStringLiteral("ok"));
        send.SendLine();
        for (int i = 0; i < send.LineBox()->count(); ++i)
            history << send.LineBox()->itemText(i);
        return IDCANCEL;
    };
    Tools(*fx.dlg)->SendBytes();
    QVERIFY(!bBadWent);
    QVERIFY2(error.startsWith(QStringLiteral("character 3: \\q is not an escape; use")),
             qPrintable(error));
    QCOMPARE(fx.pty.ReadMasterFor(3, 2000), QByteArray("ok"));
    QCOMPARE(history, QStringList{QStringLiteral("ok")});
    // A closed port beeps, as a typed character does, and counts nothing.
    fx.dlg->Port().Close();
    fx.onModal = [&](QDialog& dlg) {
        auto& send = static_cast<CSendBytesDlg&>(dlg);
        send.LineBox()->setCurrentText(QStringLiteral("x"));
        send.SendLine();
        error = send.Error();
        return IDCANCEL;
    };
    Tools(*fx.dlg)->SendBytes();
    QCOMPARE(fx.beeps, 1);
    QVERIFY2(error.startsWith(QStringLiteral("nothing was sent: the port did not take the bytes")),
             qPrintable(error));
    QCOMPARE(fx.dlg->GetTxCount(), qint64(2));
}

void TestDataTools::sendBytesTakesAMebibytePaste_data()
{
    QTest::addColumn<int>("form");
    QTest::addColumn<bool>("paste"); // else set, as a line picked from the list is
    QTest::addColumn<QString>("line");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QString>("refusal"); // how it begins; empty: sent
    constexpr int kMax = CSendBytesDlg::kMaxLine;
    QByteArray text(kMax, Qt::Uninitialized);
    for (int i = 0; i < kMax; ++i)
        text[i] = char('A' + i % 26);
    QByteArray bytes(kMax / 2, Qt::Uninitialized); // two hex digits each
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i % 251);
    const int esc = int(CSendBytesDlg::Form::Escaped), hex = int(CSendBytesDlg::Form::Hex);
    const auto over = [](const char* n) {
        return QStringLiteral("the line would have %1 characters, more than the 1,048,576 Send "
                              "Bytes takes; nothing was pasted")
            .arg(QLatin1String(n));
    };
    QTest::newRow("text, the most") << esc << true << QString::fromLatin1(text) << text << "";
    QTest::newRow("hex, the most")
        << hex << true << QString::fromLatin1(bytes.toHex()) << bytes << "";
    QTest::newRow("text, one more")
        << esc << true << QString::fromLatin1(text + "Z") << QByteArray() << over("1,048,577");
    QTest::newRow("hex, one byte more") << hex << true << QString::fromLatin1(bytes.toHex() + "0D")
                                        << QByteArray() << over("1,048,578");
    QTest::newRow("text, twice the most")
        << esc << true << QString::fromLatin1(text + text) << QByteArray() << over("2,097,152");
    QTest::newRow("text set, one more")
        << esc << false << QString::fromLatin1(text + "Z") << QByteArray()
        << "the line has more than 1,048,576 characters, the most Send Bytes takes; nothing was "
           "sent";
}

void TestDataTools::sendBytesTakesAMebibytePaste()
{
    QFETCH(int, form);
    QFETCH(bool, paste);
    QFETCH(QString, line);
    QFETCH(QByteArray, sent);
    QFETCH(QString, refusal);
    QStringList history;
    QList<QByteArray> got;
    CSendBytesDlg dlg(
        [&](const QByteArray& bytes) {
            got << bytes;
            return true;
        },
        history);
    dlg.FormBox()->setCurrentIndex(form);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QLineEdit* pEdit = dlg.LineBox()->lineEdit();
    if (paste) {
        // As a user pastes: through the clipboard, with the keys.
        QGuiApplication::clipboard()->setText(line);
        QTest::keyClick(pEdit, Qt::Key_V, Qt::ControlModifier);
    } else {
        dlg.LineBox()->setCurrentText(line);
    }
    if (!refusal.isEmpty()) {
        // Said at once; then nothing goes, not a part.
        QVERIFY2(dlg.Error().startsWith(refusal), qPrintable(dlg.Error()));
        QCOMPARE(pEdit->text().size(), paste ? 0 : line.size()); // nothing cut
        QVERIFY(!dlg.SendLine());
        QVERIFY(got.isEmpty());
        if (!paste) {
            QVERIFY2(dlg.Error().startsWith(refusal), qPrintable(dlg.Error()));
            // The excess is selected, to be cut.
            QCOMPARE(pEdit->selectionStart(), CSendBytesDlg::kMaxLine);
        }
        return;
    }
    QCOMPARE(pEdit->text().size(), line.size());
    QVERIFY2(dlg.SendLine(), qPrintable(dlg.Error()));
    QCOMPARE(got.size(), 1);
    QCOMPARE(got.first().size(), sent.size());
    QVERIFY(got.first() == sent);
    QCOMPARE(history, QStringList{line});
}

void TestDataTools::menuFromTheKeyboardThroughAccessibility()
{
    TerminalFixture fx;
    auto dlg = fx.Start();
    dlg->show();
    dlg->AppendText("hello");
    dlg->FlushRefresh();
    dlg->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(dlg.get()));
    dlg->DataView()->setFocus();
    // Shift+F10 opens the menu; its entries are named in the accessibility
    // tree, and pressing "Find..." there opens the find bar.
    QStringList names;
    QTimer::singleShot(0, dlg.get(), [&] {
        auto* pMenu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!pMenu)
            return;
        QAccessibleInterface* pAcc = QAccessible::queryAccessibleInterface(pMenu);
        QAccessibleInterface* pFind = nullptr;
        for (int i = 0; i < pAcc->childCount(); ++i) {
            QAccessibleInterface* pChild = pAcc->child(i);
            names << pChild->text(QAccessible::Name);
            if (pChild->text(QAccessible::Name) == QStringLiteral("Find..."))
                pFind = pChild;
        }
        if (pFind && pFind->actionInterface())
            pFind->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        pMenu->close();
    });
    QTest::keyClick(dlg->DataView(), Qt::Key_F10, Qt::ShiftModifier);
    for (const char* name : {"Copy", "Select All", "Find...", "Copy as Hex", "Copy as C String",
                             "Save Received Data...", "Send Bytes..."})
        QVERIFY2(
            names.contains(QLatin1String(name)),
            qPrintable(QStringLiteral("%1 not in [%2]").arg(name, names.join(QLatin1Char('|')))));
    QTRY_VERIFY(Tools(*dlg)->FindBar()->isVisible());
}

void TestDataTools::screenReaderHearsRefusalAndResult()
{
    // The real program on a private desktop, as a screen reader user works
    // it: the texts that change are heard as they are.
    PrivateDesktop desktop;
    if (desktop.ToolsMissing())
        QSKIP(qPrintable(desktop.WhyNot()));
    QVERIFY2(desktop.WhyNot().isEmpty(), qPrintable(desktop.WhyNot()));
    QTemporaryDir tmp;
    PtyPair pty;
    QVERIFY(WriteFile(tmp.filePath(QStringLiteral("VornTerm.cfg")),
                      StoredConfig(ConfigFor(pty.SlavePath()))));
    QProcess program;
    StartProgram(program, tmp.path(), desktop.Environment());
    const auto drive = [&](const QStringList& step) {
        QProcess driver;
        const QString answer = desktop.Drive(driver, program.processId(), step);
        driver.waitForFinished(10000);
        return answer;
    };
    QVERIFY(pty.WriteMaster("abc abc"));
    QCOMPARE(drive({QStringLiteral("received"), QStringLiteral("7")}), QStringLiteral("received"));

    // A character outside the Basic Multilingual Plane, refused whole.
    const QString line = QStringLiteral("ok \U0001F600");
    QString refusal;
    CSendBytesDlg::BytesFor(line, CSendBytesDlg::Form::Escaped, CSendBytesDlg::Ending::None,
                            &refusal);
    QVERIFY2(refusal.startsWith(QStringLiteral("character 4: '\U0001F600' (U+1F600) ")),
             qPrintable(refusal));
    QCOMPARE(drive({QStringLiteral("send-bytes"), line}),
             QStringLiteral("boxes labelled Bytes:|Written as:|Line ending:; said: %1; shown: %1")
                 .arg(refusal));
    QCOMPARE(pty.ReadMasterFor(1, 300), QByteArray());
    QCOMPARE(drive({QStringLiteral("find"), QStringLiteral("bc")}),
             QStringLiteral("said: 1 of 2; shown: 1 of 2"));

    QVERIFY(SignalProgram(program, SIGTERM));
    QVERIFY(program.waitForFinished(15000));
    QCOMPARE(program.exitCode(), 0);
}

QTEST_MAIN(TestDataTools)
#include "tst_datatools.moc"
