#pragma once
// The colour rules the About and System Information dialogs share: their own
// background, statics and read-only edits take the dialog's two colours,
// while buttons keep the system's.
// User-interface thread.

#include "ColorRef.h"

class QWidget;

// Background (window and edit base) crBack, text crText.
void SetDialogColours(QWidget* pWidget, COLORREF crBack, COLORREF crText);

// Pins the application's palette on pWidget so that it does not inherit
// the colours of its dialog.
void KeepSystemColours(QWidget* pWidget);
