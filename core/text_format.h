#pragma once
// printf into a std::string: for messages built where they are found and
// printed elsewhere (an image reader's error names the track and the offset).
#include <cstdarg>
#include <cstdio>
#include <string>

#include "core/console.h"

inline std::string textFormat(const char* format, ...) FERRY2_PRINTF(1, 2);
inline std::string textFormat(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    char small[256];
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    std::string text;
    if (n >= 0 && static_cast<size_t>(n) < sizeof small) {
        text.assign(small, static_cast<size_t>(n));
    } else if (n > 0) {
        text.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(&text[0], text.size(), format, args);
        text.resize(static_cast<size_t>(n));
    }
    va_end(args);
    return text;
}
