#include "DrawTransparentBitmap.h"

#include <QPaintEngine>
#include <QPainter>
#include <QtTest>

namespace {

const COLORREF kWhite = RGB(255, 255, 255);
const QRgb kBackground = qRgb(10, 120, 200);

QImage Filled(int w, int h, QRgb colour, QImage::Format format = QImage::Format_RGB32)
{
    QImage img(w, h, format);
    img.fill(colour);
    return img;
}

// A picture of two colours in a checkerboard.
QImage Checker(int w, int h, QRgb a, QRgb b)
{
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, ((x + y) % 2) ? b : a);
    return img;
}

// Every pixel of `after` against the rule: inside the picture's rectangle at
// (x, y) a pixel of the key colour shows `before`, any other shows the
// picture; outside it nothing changed.
void VerifyRule(const QImage& before, const QImage& after, const QImage& picture, COLORREF key,
                int x, int y)
{
    const QImage pic = picture.convertToFormat(QImage::Format_RGB32);
    const QRgb keyRgb = qRgb(GetRValue(key), GetGValue(key), GetBValue(key));
    for (int j = 0; j < after.height(); ++j) {
        for (int i = 0; i < after.width(); ++i) {
            QRgb want = before.pixel(i, j);
            const int pi = i - x;
            const int pj = j - y;
            if (pic.rect().contains(pi, pj) &&
                qRgb(qRed(pic.pixel(pi, pj)), qGreen(pic.pixel(pi, pj)),
                     qBlue(pic.pixel(pi, pj))) != keyRgb)
                want = pic.pixel(pi, pj) | 0xFF000000u;
            if (after.pixel(i, j) != want)
                QFAIL(qPrintable(QStringLiteral("pixel (%1,%2): got %3, want %4")
                                     .arg(i)
                                     .arg(j)
                                     .arg(after.pixel(i, j), 8, 16, QLatin1Char('0'))
                                     .arg(want, 8, 16, QLatin1Char('0'))));
        }
    }
}

// A paint device that only counts what is drawn on it.
class CountingEngine : public QPaintEngine
{
public:
    CountingEngine() : QPaintEngine(QPaintEngine::AllFeatures) {}
    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState&) override {}
    Type type() const override { return QPaintEngine::User; }

    void drawImage(const QRectF& r, const QImage&, const QRectF&, Qt::ImageConversionFlags) override
    {
        ++draws;
        ++images;
        target = r;
    }
    void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override { ++draws; }
    void drawTiledPixmap(const QRectF&, const QPixmap&, const QPointF&) override { ++draws; }
    void drawRects(const QRect*, int) override { ++draws; }
    void drawRects(const QRectF*, int) override { ++draws; }
    void drawLines(const QLine*, int) override { ++draws; }
    void drawLines(const QLineF*, int) override { ++draws; }
    void drawEllipse(const QRectF&) override { ++draws; }
    void drawEllipse(const QRect&) override { ++draws; }
    void drawPath(const QPainterPath&) override { ++draws; }
    void drawPoints(const QPointF*, int) override { ++draws; }
    void drawPoints(const QPoint*, int) override { ++draws; }
    void drawPolygon(const QPointF*, int, PolygonDrawMode) override { ++draws; }
    void drawPolygon(const QPoint*, int, PolygonDrawMode) override { ++draws; }
    void drawTextItem(const QPointF&, const QTextItem&) override { ++draws; }

    int draws = 0;
    int images = 0;
    QRectF target;
};

class CountingDevice : public QPaintDevice
{
public:
    QPaintEngine* paintEngine() const override { return &m_engine; }
    CountingEngine& engine() { return m_engine; }

protected:
    int metric(PaintDeviceMetric m) const override
    {
        switch (m) {
        case PdmWidth:
        case PdmHeight:
            return 200;
        case PdmWidthMM:
        case PdmHeightMM:
            return 50;
        case PdmDepth:
            return 32;
        case PdmNumColors:
            return INT_MAX;
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY:
            return 96;
        case PdmDevicePixelRatio:
            return 1;
        case PdmDevicePixelRatioScaled:
            return int(devicePixelRatioFScale());
        }
        return 0;
    }

private:
    mutable CountingEngine m_engine;
};

} // namespace

class TestDrawTransparentBitmap : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sprite_data();
    void sprite();
    void spriteSameForEveryPictureFormat();
    void draw_data();
    void draw();
    void paintingTwiceEqualsOnce();
    void oneDrawCallAndPainterStateKept();
    void nothingDrawn_data();
    void nothingDrawn();
    void resourceIdUsesLow16Bits();
    void bitmapSizes_data();
    void bitmapSizes();
    void realBitmapOnColouredGround();
};

void TestDrawTransparentBitmap::sprite_data()
{
    QTest::addColumn<QRgb>("pixel");
    QTest::addColumn<COLORREF>("key");
    QTest::addColumn<bool>("seeThrough");

    QTest::newRow("white on white key") << qRgb(255, 255, 255) << kWhite << true;
    QTest::newRow("red one unit off white") << qRgb(254, 255, 255) << kWhite << false;
    QTest::newRow("green one unit off white") << qRgb(255, 254, 255) << kWhite << false;
    QTest::newRow("blue one unit off white (0xFEFFFF)")
        << qRgb(255, 255, 254) << COLORREF(0x00FFFFFF) << false;
    QTest::newRow("white against key 0xFEFFFF")
        << qRgb(255, 255, 255) << COLORREF(0x00FEFFFF) << false;
    QTest::newRow("black with white key") << qRgb(0, 0, 0) << kWhite << false;
    QTest::newRow("black on black key") << qRgb(0, 0, 0) << RGB(0, 0, 0) << true;
    QTest::newRow("red on key RGB(255,0,0)") << qRgb(255, 0, 0) << RGB(255, 0, 0) << true;
    QTest::newRow("blue not matched by RGB(255,0,0)") << qRgb(0, 0, 255) << RGB(255, 0, 0) << false;
    QTest::newRow("blue on key 0x00FF0000") << qRgb(0, 0, 255) << COLORREF(0x00FF0000) << true;
    QTest::newRow("high byte of key ignored")
        << qRgb(1, 2, 3) << (RGB(1, 2, 3) | 0xFF000000u) << true;
}

void TestDrawTransparentBitmap::sprite()
{
    QFETCH(QRgb, pixel);
    QFETCH(COLORREF, key);
    QFETCH(bool, seeThrough);

    // The pixel under test sits among opaque neighbours of another colour.
    QImage pic = Filled(3, 2, qRgb(7, 8, 9));
    pic.setPixel(1, 1, pixel);
    const QImage sprite = MakeTransparentSprite(pic, key);
    QCOMPARE(sprite.size(), pic.size());
    QCOMPARE(sprite.format(), QImage::Format_ARGB32);
    const QRgb got = sprite.pixel(1, 1);
    if (seeThrough) {
        QCOMPARE(qAlpha(got), 0);
    } else {
        QCOMPARE(qAlpha(got), 255);
        QCOMPARE(got & RGB_MASK, pixel & RGB_MASK);
    }
    QCOMPARE(sprite.pixel(0, 0), qRgb(7, 8, 9));
}

void TestDrawTransparentBitmap::spriteSameForEveryPictureFormat()
{
    QImage pic = Checker(6, 5, qRgb(255, 255, 255), qRgb(0, 0, 0));
    pic.setPixel(2, 2, qRgb(255, 255, 254));
    pic.setPixel(3, 2, qRgb(200, 30, 60));
    const QImage want = MakeTransparentSprite(pic, kWhite);
    QCOMPARE(qAlpha(want.pixel(0, 0)), 0);
    QCOMPARE(want.pixel(1, 0), qRgb(0, 0, 0));
    QCOMPARE(want.pixel(2, 2), qRgb(255, 255, 254));

    for (QImage::Format f :
         {QImage::Format_RGB888, QImage::Format_Indexed8, QImage::Format_ARGB32_Premultiplied})
        QCOMPARE(MakeTransparentSprite(pic.convertToFormat(f), kWhite), want);
    QVERIFY(MakeTransparentSprite(QImage(), kWhite).isNull());
}

void TestDrawTransparentBitmap::draw_data()
{
    QTest::addColumn<QImage>("picture");
    QTest::addColumn<COLORREF>("key");
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<QImage::Format>("destFormat");

    const QPoint at(3, 2);
    const auto rgb32 = QImage::Format_RGB32;
    QTest::newRow("no transparent pixel: opaque rectangle")
        << Filled(7, 5, qRgb(200, 0, 0)) << kWhite << at << rgb32;
    QTest::newRow("all transparent: unchanged")
        << Filled(7, 5, qRgb(255, 255, 255)) << kWhite << at << rgb32;
    QTest::newRow("one unit off white is drawn")
        << Filled(7, 5, qRgb(255, 255, 254)) << kWhite << at << rgb32;
    QTest::newRow("black drawn black, white see-through")
        << Checker(7, 5, qRgb(0, 0, 0), qRgb(255, 255, 255)) << kWhite << at << rgb32;
    QTest::newRow("black as the key colour")
        << Checker(7, 5, qRgb(0, 0, 0), qRgb(250, 220, 0)) << RGB(0, 0, 0) << at << rgb32;
    QTest::newRow("premultiplied destination")
        << Checker(7, 5, qRgb(0, 0, 0), qRgb(255, 255, 255)) << kWhite << at
        << QImage::Format_ARGB32_Premultiplied;
    QTest::newRow("24-bit destination") << Checker(7, 5, qRgb(1, 2, 3), qRgb(255, 255, 255))
                                        << kWhite << at << QImage::Format_RGB888;
    QTest::newRow("partly outside, top left")
        << Checker(7, 5, qRgb(0, 90, 0), qRgb(255, 255, 255)) << kWhite << QPoint(-3, -2) << rgb32;
    QTest::newRow("partly outside, bottom right")
        << Checker(7, 5, qRgb(0, 90, 0), qRgb(255, 255, 255)) << kWhite << QPoint(16, 13) << rgb32;
}

void TestDrawTransparentBitmap::draw()
{
    QFETCH(QImage, picture);
    QFETCH(COLORREF, key);
    QFETCH(QPoint, at);
    QFETCH(QImage::Format, destFormat);

    // A background with texture, so an unchanged pixel cannot pass by luck.
    QImage dest = Checker(20, 16, kBackground, qRgb(240, 240, 240)).convertToFormat(destFormat);
    const QImage before = dest;
    {
        QPainter p(&dest);
        DrawTransparentImage(at.x(), at.y(), picture, key, &p);
    }
    VerifyRule(before, dest, picture, key, at.x(), at.y());
}

void TestDrawTransparentBitmap::paintingTwiceEqualsOnce()
{
    const QImage pic = Checker(9, 7, qRgb(0, 0, 0), qRgb(255, 255, 255));
    QImage once = Filled(20, 16, kBackground);
    QImage twice = once;
    {
        QPainter p(&once);
        DrawTransparentImage(4, 4, pic, kWhite, &p);
    }
    {
        QPainter p(&twice);
        DrawTransparentImage(4, 4, pic, kWhite, &p);
        DrawTransparentImage(4, 4, pic, kWhite, &p);
    }
    QCOMPARE(twice, once);

    QImage bmpOnce = Filled(120, 80, kBackground);
    QImage bmpTwice = bmpOnce;
    {
        QPainter p(&bmpOnce);
        DrawTransparentBitmap(30, 1, 144, kWhite, &p);
    }
    {
        QPainter p(&bmpTwice);
        DrawTransparentBitmap(30, 1, 144, kWhite, &p);
        DrawTransparentBitmap(30, 1, 144, kWhite, &p);
    }
    QCOMPARE(bmpTwice, bmpOnce);
}

void TestDrawTransparentBitmap::oneDrawCallAndPainterStateKept()
{
    CountingDevice device;
    QPainter p(&device);
    p.translate(5, 6);
    p.setPen(QPen(Qt::red, 3));
    p.setBrush(Qt::green);
    p.setCompositionMode(QPainter::CompositionMode_Xor);
    p.setOpacity(0.25);
    const QTransform transform = p.transform();

    DrawTransparentBitmap(30, 1, 1008, kWhite, &p);

    QCOMPARE(device.engine().draws, 1);
    QCOMPARE(device.engine().images, 1);
    QCOMPARE(device.engine().target, QRectF(30, 1, 113, 75));
    QCOMPARE(p.transform(), transform);
    QCOMPARE(p.pen(), QPen(Qt::red, 3));
    QCOMPARE(p.brush(), QBrush(Qt::green));
    QCOMPARE(p.compositionMode(), QPainter::CompositionMode_Xor);
    QCOMPARE(p.opacity(), 0.25);
    p.end();

    // Whatever the caller's composition mode and opacity, the rule holds;
    // the caller's translation places the picture.
    const QImage pic = Checker(6, 4, qRgb(0, 0, 0), qRgb(255, 255, 255));
    QImage dest = Filled(20, 16, kBackground);
    const QImage before = dest;
    {
        QPainter q(&dest);
        q.translate(2, 3);
        q.setCompositionMode(QPainter::CompositionMode_Xor);
        q.setOpacity(0.25);
        DrawTransparentImage(1, 1, pic, kWhite, &q);
    }
    VerifyRule(before, dest, pic, kWhite, 3, 4);
}

void TestDrawTransparentBitmap::nothingDrawn_data()
{
    QTest::addColumn<int>("id");
    QTest::newRow("id 0") << 0;
    QTest::newRow("id 128 (the icon)") << 128;
    QTest::newRow("id 143") << 143;
    QTest::newRow("id 1011 (a dialog)") << 1011;
    QTest::newRow("id -1") << -1;
}

void TestDrawTransparentBitmap::nothingDrawn()
{
    QFETCH(int, id);
    QVERIFY(LoadBitmapResource(id).isNull());

    QImage dest = Filled(40, 30, kBackground);
    const QImage before = dest;
    {
        QPainter p(&dest);
        DrawTransparentBitmap(0, 0, id, kWhite, &p);
    }
    QCOMPARE(dest, before);

    // No destination at all: returns, known id or not.
    DrawTransparentBitmap(0, 0, id, kWhite, nullptr);
    DrawTransparentBitmap(30, 1, 144, kWhite, nullptr);
    DrawTransparentImage(0, 0, Filled(3, 3, 0), kWhite, nullptr);
}

void TestDrawTransparentBitmap::resourceIdUsesLow16Bits()
{
    const QImage plain = LoadBitmapResource(1008);
    QVERIFY(!plain.isNull());
    QCOMPARE(LoadBitmapResource(0x10000 | 1008), plain);
    QCOMPARE(LoadBitmapResource(int(0xFFFF0000u | 144u)), LoadBitmapResource(144));
}

void TestDrawTransparentBitmap::bitmapSizes_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<QSize>("size");
    QTest::newRow("144") << 144 << QSize(76, 47);
    QTest::newRow("1008") << 1008 << QSize(113, 75);
    QTest::newRow("1009") << 1009 << QSize(158, 105);
    QTest::newRow("1010") << 1010 << QSize(192, 129);
}

void TestDrawTransparentBitmap::bitmapSizes()
{
    QFETCH(int, id);
    QFETCH(QSize, size);
    const QImage img = LoadBitmapResource(id);
    QVERIFY(!img.isNull());
    QCOMPARE(img.size(), size);
    QVERIFY(!img.hasAlphaChannel());
    // A logo on a white ground: white corners, and mostly something else
    // somewhere.
    const QRgb white = qRgb(255, 255, 255);
    QCOMPARE(img.pixel(0, 0) | 0xFF000000u, white);
    QCOMPARE(img.pixel(size.width() - 1, 0) | 0xFF000000u, white);
    QCOMPARE(img.pixel(0, size.height() - 1) | 0xFF000000u, white);
    QCOMPARE(img.pixel(size.width() - 1, size.height() - 1) | 0xFF000000u, white);
    int inked = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            inked += (img.pixel(x, y) | 0xFF000000u) != white;
    QVERIFY2(inked > img.width() * img.height() / 5, qPrintable(QString::number(inked)));
}

void TestDrawTransparentBitmap::realBitmapOnColouredGround()
{
    const QImage logo = LoadBitmapResource(144);
    QVERIFY(!logo.isNull());
    QImage dest = Filled(140, 60, qRgb(212, 208, 200));
    const QImage before = dest;
    {
        QPainter p(&dest);
        DrawTransparentBitmap(30, 1, 144, kWhite, &p);
    }
    VerifyRule(before, dest, logo, kWhite, 30, 1);

    // Corners of the picture are ground: the background shows there.
    for (const QPoint& c :
         {QPoint(30, 1), QPoint(30 + 75, 1), QPoint(30, 1 + 46), QPoint(30 + 75, 1 + 46)})
        QCOMPARE(dest.pixel(c), before.pixel(c));

    // What changed is exactly the logo's inked part, moved to (30, 1).
    QRect inked;
    for (int y = 0; y < logo.height(); ++y)
        for (int x = 0; x < logo.width(); ++x)
            if ((logo.pixel(x, y) | 0xFF000000u) != qRgb(255, 255, 255))
                inked |= QRect(x, y, 1, 1);
    QRect changed;
    for (int y = 0; y < dest.height(); ++y)
        for (int x = 0; x < dest.width(); ++x)
            if (dest.pixel(x, y) != before.pixel(x, y))
                changed |= QRect(x, y, 1, 1);
    QVERIFY(!inked.isEmpty());
    QCOMPARE(changed, inked.translated(30, 1));
}

QTEST_MAIN(TestDrawTransparentBitmap)
#include "tst_drawtransparentbitmap.moc"
