#pragma once
// A file-size limit (ulimit -f) must not end the program: a write beyond it
// then fails with "File too large" and is handled as any other write failure.
// Called once on the main thread, before any other thread exists.

void IgnoreFileSizeSignal();
