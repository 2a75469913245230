#pragma once
// Paints bitmap resource `id` with its top-left corner at (x, y) of the
// destination, every pixel equal to `crTransparent` leaving the destination as
// it was. The picture is composed off-screen and written to the destination in
// one draw. A null destination or an unknown id draws nothing.

#include "ColorRef.h"

#include <QImage>

class QPainter;

void DrawTransparentBitmap(int x, int y, int id, COLORREF crTransparent, QPainter* pDest);

// The bitmap resources of the program (144, 1008, 1009, 1010); a null image
// for any other id.
QImage LoadBitmapResource(int id);
