#pragma once
// The operating system's reason for a failure (errno on POSIX, GetLastError on
// Windows) in words, as UTF-8 for the console.
#include <string>

std::string systemErrorText(int code);
