#include "Afx.h"
#include "CHyperLink.h"
#include "TryTimeout.h"

#include <QApplication>
#include <QHelpEvent>
#include <QPixmap>
#include <QToolTip>
#include <QtTest>

namespace {

const QRgb kDialogColour = qRgb(212, 208, 200);

// Records what the link hands to the desktop and how often it beeps.
struct Desktop
{
    QStringList opened;
    int beeps = 0;
    bool succeed = true;
    bool waitCursorWhileOpening = false;

    AfxHooks Hooks()
    {
        AfxHooks h;
        h.openTarget = [this](const QString& target) {
            opened << target;
            const QCursor* c = QGuiApplication::overrideCursor();
            waitCursorWhileOpening = c && c->shape() == Qt::WaitCursor;
            return succeed;
        };
        h.beep = [this] { ++beeps; };
        return h;
    }
};

// A dialog-coloured parent holding one link.
struct Dialog
{
    QWidget parent;
    CHyperLink* link;

    explicit Dialog(const QString& text)
    {
        QPalette pal = parent.palette();
        pal.setColor(QPalette::Window, QColor(kDialogColour));
        pal.setColor(QPalette::WindowText, Qt::black);
        parent.setPalette(pal);
        parent.setAutoFillBackground(true);
        parent.resize(300, 60);
        link = new CHyperLink(&parent);
        link->setText(text);
        link->setGeometry(10, 10, 280, 30);
    }
};

int CountPixels(const QImage& img, QRgb colour)
{
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            n += (img.pixel(x, y) | 0xFF000000u) == (colour | 0xFF000000u);
    return n;
}

QImage Render(QWidget& w)
{
    return w.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

QRgb Rgb(COLORREF cr)
{
    return qRgb(GetRValue(cr), GetGValue(cr), GetBValue(cr));
}

} // namespace

class TestHyperLink : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initialState();
    void clickOpensTarget_data();
    void clickOpensTarget();
    void failedOpenBeepsAndKeepsColour();
    void nothingToOpenBeeps();
    void onlyALeftClickInsideOpens();
    void paintedColours();
    void transparentBackground();
    void styling_data();
    void styling();
    void underlineFontMadeOnce();
    void tooltipShowsTarget_data();
    void tooltipShowsTarget();
    void tooltipWidthLimited();
    void wrapTipText_data();
    void wrapTipText();
    void urlForTarget_data();
    void urlForTarget();
};

void TestHyperLink::initialState()
{
    CHyperLink link;
    QCOMPARE(link.CurrentTextColor(), RGB(0, 0, 255));
    QVERIFY(!link.IsVisited());
    QVERIFY(link.GetTarget().isEmpty());
    QVERIFY(!link.GetUnderlineFont());
    QVERIFY(link.testAttribute(Qt::WA_SetCursor));
    QCOMPARE(link.cursor().shape(), Qt::ArrowCursor);
    QVERIFY(!link.autoFillBackground());
}

void TestHyperLink::clickOpensTarget_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("opened");
    QTest::addColumn<QString>("tooltip");

    QTest::newRow("web link") << "www.vornterm.example"
                              << "www.vornterm.example"
                              << "http://www.vornterm.example"
                              << "www.vornterm.example";
    QTest::newRow("e-mail link") << "mailto:support@vornterm.example"
                                 << "support@vornterm.example"
                                 << "mailto:support@vornterm.example"
                                 << "mailto:support@vornterm.example";
    QTest::newRow("full address") << "https://www.vornterm.example/download"
                                  << "Downloads"
                                  << "https://www.vornterm.example/download"
                                  << "https://www.vornterm.example/download";
    // No target set: the visible text is opened and becomes the target; the
    // tooltip is left as it was (empty).
    QTest::newRow("empty target opens visible text") << ""
                                                     << "www.vornterm.example"
                                                     << "http://www.vornterm.example"
                                                     << "";
}

void TestHyperLink::clickOpensTarget()
{
    QFETCH(QString, target);
    QFETCH(QString, text);
    QFETCH(QString, opened);
    QFETCH(QString, tooltip);

    Desktop desktop;
    AfxScopedHooks hooks(desktop.Hooks());
    Dialog dlg(text);
    dlg.parent.show();
    if (!target.isEmpty())
        dlg.link->SetTarget(target);

    QTest::mouseClick(dlg.link, Qt::LeftButton, {}, QPoint(5, 5));

    QCOMPARE(desktop.opened, QStringList{opened});
    QVERIFY(desktop.waitCursorWhileOpening);
    QVERIFY(!QGuiApplication::overrideCursor());
    QCOMPARE(desktop.beeps, 0);
    QVERIFY(dlg.link->IsVisited());
    QCOMPARE(dlg.link->CurrentTextColor(), RGB(128, 0, 128));
    QCOMPARE(dlg.link->GetTarget(), target.isEmpty() ? text : target);
    QCOMPARE(dlg.link->toolTip(), tooltip);

    // The kept target is used by the next click even if the text changes.
    dlg.link->setText(QStringLiteral("something else"));
    QTest::mouseClick(dlg.link, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(desktop.opened, (QStringList{opened, opened}));
}

void TestHyperLink::failedOpenBeepsAndKeepsColour()
{
    Desktop desktop;
    desktop.succeed = false;
    AfxScopedHooks hooks(desktop.Hooks());
    Dialog dlg(QStringLiteral("www.vornterm.example"));
    dlg.parent.show();
    dlg.link->SetTarget(QStringLiteral("www.vornterm.example"));

    QTest::mouseClick(dlg.link, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(desktop.opened.size(), 1);
    QCOMPARE(desktop.beeps, 1);
    QVERIFY(!dlg.link->IsVisited());
    QCOMPARE(dlg.link->CurrentTextColor(), RGB(0, 0, 255));
    QVERIFY(!QGuiApplication::overrideCursor());

    // Visited once, a later failure does not take it back.
    desktop.succeed = true;
    QTest::mouseClick(dlg.link, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(desktop.beeps, 1);
    QVERIFY(dlg.link->IsVisited());
    desktop.succeed = false;
    QTest::mouseClick(dlg.link, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(desktop.beeps, 2);
    QCOMPARE(dlg.link->CurrentTextColor(), RGB(128, 0, 128));
}

void TestHyperLink::nothingToOpenBeeps()
{
    Desktop desktop;
    AfxScopedHooks hooks(desktop.Hooks());
    Dialog dlg{QString()};
    dlg.parent.show();
    QTest::mouseClick(dlg.link, Qt::LeftButton, {}, QPoint(5, 5));
    QVERIFY(desktop.opened.isEmpty());
    QCOMPARE(desktop.beeps, 1);
    QVERIFY(!dlg.link->IsVisited());
}

void TestHyperLink::onlyALeftClickInsideOpens()
{
    Desktop desktop;
    AfxScopedHooks hooks(desktop.Hooks());
    Dialog dlg(QStringLiteral("www.vornterm.example"));
    dlg.parent.show();

    QTest::mouseClick(dlg.link, Qt::RightButton, {}, QPoint(5, 5));
    QTest::mousePress(dlg.link, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(dlg.link, Qt::LeftButton, {}, QPoint(400, 5)); // let go outside
    QVERIFY(desktop.opened.isEmpty());
    QVERIFY(!dlg.link->IsVisited());

    QTest::mouseClick(dlg.link, Qt::LeftButton, {}, QPoint(270, 25));
    QCOMPARE(desktop.opened.size(), 1);

    // A double-click as the system delivers it (press, release, double-click,
    // release) opens once.
    const QPointF at(5, 5);
    const QPointF global = dlg.link->mapToGlobal(at);
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                              QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}) {
        const Qt::MouseButtons held =
            type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent e(type, at, global, Qt::LeftButton, held, Qt::NoModifier);
        QApplication::sendEvent(dlg.link, &e);
    }
    QCOMPARE(desktop.opened.size(), 2);
}

void TestHyperLink::paintedColours()
{
    Desktop desktop;
    AfxScopedHooks hooks(desktop.Hooks());
    Dialog dlg(QStringLiteral("www.vornterm.example"));
    dlg.parent.show();
    const QRgb blue = Rgb(RGB(0, 0, 255));
    const QRgb purple = Rgb(RGB(128, 0, 128));

    QImage img = Render(*dlg.link);
    QVERIFY(CountPixels(img, blue) > 0);
    QCOMPARE(CountPixels(img, purple), 0);
    QCOMPARE(CountPixels(img, qRgb(0, 0, 0)), 0); // not the parent's text colour

    QTest::mouseClick(dlg.link, Qt::LeftButton, {}, QPoint(5, 5));
    img = Render(*dlg.link);
    QVERIFY(CountPixels(img, purple) > 0);
    QCOMPARE(CountPixels(img, blue), 0);
}

void TestHyperLink::transparentBackground()
{
    Dialog dlg(QStringLiteral("x"));
    dlg.link->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    const QImage img = Render(dlg.parent);
    // Right half of the link's area holds no text: the dialog shows through.
    for (int x = 160; x < 290; x += 7)
        for (int y = 10; y < 40; y += 5)
            QCOMPARE(img.pixel(x, y), kDialogColour);
    QVERIFY(CountPixels(img.copy(10, 10, 40, 30), Rgb(RGB(0, 0, 255))) > 0);
}

void TestHyperLink::styling_data()
{
    QTest::addColumn<int>("alignment");
    QTest::addColumn<bool>("pixmap");
    QTest::addColumn<int>("format");
    QTest::addColumn<bool>("styled");

    const int plain = int(Qt::PlainText);
    QTest::newRow("left") << int(Qt::AlignLeft | Qt::AlignVCenter) << false << plain << true;
    QTest::newRow("centred") << int(Qt::AlignCenter) << false << plain << true;
    QTest::newRow("right") << int(Qt::AlignRight | Qt::AlignTop) << false << plain << true;
    QTest::newRow("absolute right")
        << int(Qt::AlignRight | Qt::AlignAbsolute) << false << plain << true;
    QTest::newRow("auto text without markup")
        << int(Qt::AlignLeft) << false << int(Qt::AutoText) << true;
    QTest::newRow("justified") << int(Qt::AlignJustify) << false << plain << false;
    QTest::newRow("picture") << int(Qt::AlignLeft) << true << plain << false;
    QTest::newRow("rich text") << int(Qt::AlignLeft) << false << int(Qt::RichText) << false;
}

void TestHyperLink::styling()
{
    QFETCH(int, alignment);
    QFETCH(bool, pixmap);
    QFETCH(int, format);
    QFETCH(bool, styled);

    Desktop desktop;
    AfxScopedHooks hooks(desktop.Hooks());
    Dialog dlg(QStringLiteral("www.vornterm.example"));
    dlg.parent.show();
    dlg.link->SetTarget(QStringLiteral("www.vornterm.example"));
    dlg.link->setTextFormat(Qt::TextFormat(format));
    dlg.link->setAlignment(Qt::Alignment(alignment));
    if (pixmap) {
        QPixmap pm(20, 20);
        pm.fill(Qt::red);
        dlg.link->setPixmap(pm);
    }
    QCOMPARE(dlg.link->IsStyled(), styled);

    const QImage img = Render(*dlg.link);
    QCOMPARE(CountPixels(img, Rgb(RGB(0, 0, 255))) > 0, styled);
    QCOMPARE(bool(dlg.link->GetUnderlineFont()), styled);
    if (!pixmap && !styled) // the parent's text colour instead
        QVERIFY(CountPixels(img, qRgb(0, 0, 0)) > 0);

    // A click works either way.
    QTest::mouseClick(dlg.link, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(desktop.opened.size(), 1);
}

void TestHyperLink::underlineFontMadeOnce()
{
    Dialog dlg(QStringLiteral("www.vornterm.example"));
    QFont first(QStringLiteral("DejaVu Sans"), 9);
    first.setBold(true);
    first.setItalic(true);
    dlg.link->setFont(first);
    QVERIFY(!dlg.link->GetUnderlineFont());

    Render(*dlg.link);
    const auto made = dlg.link->GetUnderlineFont();
    QVERIFY(made);
    QVERIFY(made->underline());
    QFont expected = first;
    expected.setUnderline(true);
    QCOMPARE(*made, expected);

    QFont second(QStringLiteral("DejaVu Serif"), 16);
    dlg.link->setFont(second);
    Render(*dlg.link);
    QCOMPARE(*dlg.link->GetUnderlineFont(), expected);
}

void TestHyperLink::tooltipShowsTarget_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("tip");
    QTest::newRow("e-mail: the whole mailto: target") << "mailto:support@vornterm.example"
                                                      << "mailto:support@vornterm.example";
    QTest::newRow("web: the bare address") << "www.vornterm.example"
                                           << "www.vornterm.example";
    QTest::newRow("markup shown as typed") << "<b>x</b>"
                                           << "<p style='white-space:pre'>&lt;b&gt;x&lt;/b&gt;</p>";
}

void TestHyperLink::tooltipShowsTarget()
{
    QFETCH(QString, target);
    QFETCH(QString, tip);
    CHyperLink link;
    link.SetTarget(target);
    QCOMPARE(link.GetTarget(), target);
    QCOMPARE(link.toolTip(), tip);
}

void TestHyperLink::tooltipWidthLimited()
{
    const QString target =
        QStringLiteral("Opens the VornTerm web site in your browser, where the manual lives");
    Dialog dlg(QStringLiteral("web site"));
    dlg.parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg.parent, 20000));
    dlg.link->SetTarget(target);

    const QString tip = dlg.link->toolTip();
    const QStringList lines = tip.split(QLatin1Char('\n'));
    QVERIFY(lines.size() >= 3);
    QCOMPARE(lines.join(QLatin1Char(' ')), target);
    const QFontMetrics fm(QToolTip::font());
    for (const QString& line : lines)
        QVERIFY2(fm.horizontalAdvance(line) <= CHyperLink::kMaxTipWidth, qPrintable(line));

    // Hovering shows it, and the tip window's text area keeps to the limit
    // (a pixel or two of rounding allowed).
    const QPoint at(5, 5);
    QHelpEvent help(QEvent::ToolTip, at, dlg.link->mapToGlobal(at));
    QApplication::sendEvent(dlg.link, &help);
    QTRY_VERIFY(QToolTip::isVisible());
    QCOMPARE(QToolTip::text(), tip);
    QLabel* shown = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->inherits("QTipLabel") && w->isVisible())
            shown = qobject_cast<QLabel*>(w);
    QVERIFY(shown);
    const int textWidth = shown->contentsRect().width() - 2 * shown->margin();
    QVERIFY2(textWidth <= CHyperLink::kMaxTipWidth + 3, qPrintable(QString::number(textWidth)));
    QVERIFY(shown->height() > lines.size() * fm.height() - 1);
    QToolTip::hideText();
}

void TestHyperLink::wrapTipText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("widthOf"); // the limit is this text's width
    QTest::addColumn<QString>("wrapped");

    QTest::newRow("fits") << "aaa bbb"
                          << "aaa bbb"
                          << "aaa bbb";
    QTest::newRow("break before the word that overflows") << "aaa bbb ccc"
                                                          << "aaa bbb"
                                                          << "aaa bbb\nccc";
    QTest::newRow("several lines") << "aa bb cc dd ee"
                                   << "aa bb"
                                   << "aa bb\ncc dd\nee";
    QTest::newRow("long word stays whole") << "short averyveryverylongword end"
                                           << "short"
                                           << "short\naveryveryverylongword\nend";
    QTest::newRow("existing line breaks kept") << "aa\nbb cc"
                                               << "bb cc"
                                               << "aa\nbb cc";
    QTest::newRow("empty") << ""
                           << "x"
                           << "";
}

void TestHyperLink::wrapTipText()
{
    QFETCH(QString, text);
    QFETCH(QString, widthOf);
    QFETCH(QString, wrapped);
    const QFontMetrics fm(QToolTip::font());
    QCOMPARE(CHyperLink::WrapTipText(text, fm, fm.horizontalAdvance(widthOf)), wrapped);
}

void TestHyperLink::urlForTarget_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("url");
    QTest::newRow("bare host") << "www.example.com"
                               << "http://www.example.com";
    QTest::newRow("bare host with path") << "www.example.com/path"
                                         << "http://www.example.com/path";
    QTest::newRow("bare host with port") << "example.com:8080/x"
                                         << "http://example.com:8080/x";
    QTest::newRow("mailto unchanged") << "mailto:x@y.example"
                                      << "mailto:x@y.example";
    QTest::newRow("MAILTO unchanged") << "MAILTO:x@y.example"
                                      << "MAILTO:x@y.example";
    QTest::newRow("https unchanged") << "https://www.example.com/a?b=c"
                                     << "https://www.example.com/a?b=c";
    QTest::newRow("ftp unchanged") << "ftp://files.example.com"
                                   << "ftp://files.example.com";
    QTest::newRow("bare e-mail address unchanged") << "x@y.example"
                                                   << "x@y.example";
    QTest::newRow("single word unchanged") << "localhost"
                                           << "localhost";
    QTest::newRow("words unchanged") << "Visit us"
                                     << "Visit us";
    QTest::newRow("empty") << ""
                           << "";
}

void TestHyperLink::urlForTarget()
{
    QFETCH(QString, target);
    QFETCH(QString, url);
    QCOMPARE(CHyperLink::UrlForTarget(target), url);
}

QTEST_MAIN(TestHyperLink)
#include "tst_hyperlink.moc"
