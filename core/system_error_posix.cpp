#include "core/system_error.h"

#include <cstring>

std::string systemErrorText(int code)
{
    // The C locale's text: English, which is what users search the web for.
    const char* text = std::strerror(code);
    return text ? text : "error " + std::to_string(code);
}
