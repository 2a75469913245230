#pragma once
// Names the calling thread in the system's thread lists (ps -L, top -H,
// /proc/<pid>/task/<tid>/comm), so that the CPU time of the port's, the log's
// and the file send's threads can be told apart. Called by the thread itself,
// first thing. Names longer than 15 bytes are cut.

void KrNameThisThread(const char* pszName);
