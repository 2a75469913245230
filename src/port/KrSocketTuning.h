#pragma once
// What a network back end sets on its connected TCP socket beyond what the
// toolkit offers. The system calls live in KrSocketTuning_<system>.cpp.
// Called on the port's I/O thread.

#include <QtGlobal>

// A peer that goes silent (a cable pulled, a host that went down) is noticed
// within about 25 seconds instead of the system's default of hours.
void KrTuneKeepAlive(qintptr socket);

// The next close drops whatever still waits to be sent and resets the
// connection, instead of sending it on after the port was closed.
void KrDropOnClose(qintptr socket);
