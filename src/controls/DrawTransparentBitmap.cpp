#include "DrawTransparentBitmap.h"

#include <QPainter>
#include <QString>

QImage LoadBitmapResource(int id)
{
    // Resource ids are 16-bit.
    switch (id & 0xFFFF) {
    case 144:
    case 1008:
    case 1009:
    case 1010:
        return QImage(QStringLiteral(":/res/bmp%1.png").arg(id & 0xFFFF));
    default:
        return QImage();
    }
}

QImage MakeTransparentSprite(const QImage& picture, COLORREF crTransparent)
{
    if (picture.isNull())
        return QImage();
    // Compare in 24-bit RGB: a pixel one unit off the key colour stays visible.
    const QImage src = picture.convertToFormat(QImage::Format_RGB32);
    const QRgb key =
        qRgb(GetRValue(crTransparent), GetGValue(crTransparent), GetBValue(crTransparent)) &
        RGB_MASK;
    QImage sprite(src.size(), QImage::Format_ARGB32);
    for (int y = 0; y < src.height(); ++y) {
        const QRgb* in = reinterpret_cast<const QRgb*>(src.constScanLine(y));
        QRgb* out = reinterpret_cast<QRgb*>(sprite.scanLine(y));
        for (int x = 0; x < src.width(); ++x) {
            const QRgb rgb = in[x] & RGB_MASK;
            out[x] = rgb == key ? 0u : (rgb | 0xFF000000u);
        }
    }
    return sprite;
}

void DrawTransparentImage(int x, int y, const QImage& picture, COLORREF crTransparent,
                          QPainter* pDest)
{
    if (!pDest || picture.isNull())
        return;
    const QImage sprite = MakeTransparentSprite(picture, crTransparent);
    // With alpha only 0 or 255, plain source-over either keeps the background
    // or replaces it exactly, so the sprite goes down in a single draw.
    pDest->save();
    pDest->setCompositionMode(QPainter::CompositionMode_SourceOver);
    pDest->setOpacity(1.0);
    pDest->setRenderHint(QPainter::SmoothPixmapTransform, false);
    pDest->drawImage(QPoint(x, y), sprite);
    pDest->restore();
}

void DrawTransparentBitmap(int x, int y, int id, COLORREF crTransparent, QPainter* pDest)
{
    if (!pDest)
        return; // nothing is loaded for a null destination
    DrawTransparentImage(x, y, LoadBitmapResource(id), crTransparent, pDest);
}
