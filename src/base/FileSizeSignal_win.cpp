#include "FileSizeSignal.h"

// The system has no such signal: a write beyond a quota simply fails.
void IgnoreFileSizeSignal() {}
