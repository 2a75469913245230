#pragma once
// The data window's accessibility, in its own file: the text interface that
// assistive technology reads (CDataViewAccessible.cpp) and the two calls the
// view makes to tell of its changes. User-interface thread.

#include <QAccessible>

namespace DataViewAccess {

// Makes Qt build the view's accessible interface; once per program.
void InstallFactory();
// Whether anyone listens to the view's notices (a screen reader, or a test's
// handler set by CDataView::SetNoticeHandler).
bool IsListening();
// Hands a notice to whoever hears it.
void Tell(QAccessibleEvent* pEvent);

} // namespace DataViewAccess
