#include "KrThreadName.h"

#include <pthread.h>

#include <cstring>

void KrNameThisThread(const char* pszName)
{
    char name[16] = {};
    std::strncpy(name, pszName, sizeof name - 1);
    ::pthread_setname_np(::pthread_self(), name);
}
