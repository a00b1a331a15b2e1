#pragma once
// Force-included into the Windows unit tests: the few POSIX calls the shared
// tests use for temporary files, which the Windows C runtime lacks.
#include <cstdlib>
#include <cstring>
#include <direct.h>
#include <io.h>

// Replaces the trailing "XXXXXX" and creates the folder; nullptr on failure.
static inline char* mkdtemp(char* pattern)
{
    if (_mktemp_s(pattern, strlen(pattern) + 1) != 0 || _mkdir(pattern) != 0)
        return nullptr;
    return pattern;
}
