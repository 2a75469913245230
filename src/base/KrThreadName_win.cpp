#include "KrThreadName.h"

// Thread names are for the Linux tools; Windows threads keep theirs.
void KrNameThisThread(const char*) {}
