// A windowed program on this system is ended through its window, which closes
// as its close box does; there is no signal to catch.

#include "CEndOnSignal.h"

QObject* InstallEndSignals(QObject*, void (*)(QObject*), QObject*)
{
    return nullptr;
}

void RemoveEndSignals(QObject*) {}

int EndSignalReceived()
{
    return 0;
}
