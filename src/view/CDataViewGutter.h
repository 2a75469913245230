#pragma once
// A column the data view leaves room for at the left of its rows, painted by
// someone else (the arrival times). The view paints it in its row painting
// and repaints a row when RowKey changes; GutterChanged repaints them all.
// User-interface thread.

#include "CDataLayout.h"

class QPainter;
class QRect;

class CDataViewGutter
{
public:
    // Pixels the column takes; 0 while it is hidden.
    virtual int Width() const = 0;
    // Paints over one row after its text: `cells` as the view painted them,
    // `row` the whole row's rectangle in the viewport, the column at its
    // left. It may also mark the row's bottom edge.
    virtual void PaintRow(QPainter& painter, const CDataLayout::Cells& cells,
                          const QRect& row) const = 0;
    // Everything PaintRow draws for the row, as text (the view keeps it in
    // the row's key, so that a row is painted again when it changes).
    virtual QString RowKey(const CDataLayout::Cells& cells) const = 0;

protected:
    ~CDataViewGutter() = default;
};
