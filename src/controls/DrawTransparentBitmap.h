#pragma once
// Paints bitmap resource `id` with its top-left corner at (x, y) of the
// destination, every pixel equal to `crTransparent` leaving the destination as
// it was. The picture is composed off-screen and written to the destination in
// one draw. A null destination or an unknown id draws nothing.
// User-interface thread.

#include "ColorRef.h"

#include <QImage>

class QPainter;

void DrawTransparentBitmap(int x, int y, int id, COLORREF crTransparent, QPainter* pDest);

// The bitmap resources of the program (144, 1008, 1009, 1010); a null image
// for any other id.
QImage LoadBitmapResource(int id);

// The picture as an ARGB32 sprite: alpha 0 where its colour is exactly
// `crTransparent` (alpha of the picture ignored), alpha 255 with the
// picture's colour everywhere else. A null picture gives a null sprite.
QImage MakeTransparentSprite(const QImage& picture, COLORREF crTransparent);

// What DrawTransparentBitmap does once the picture is loaded: the sprite of
// `picture` drawn at (x, y) in the painter's coordinates, in one draw call,
// the painter's state left as it was. Null painter or picture: nothing.
void DrawTransparentImage(int x, int y, const QImage& picture, COLORREF crTransparent,
                          QPainter* pDest);
