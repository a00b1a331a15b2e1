// The platform-free half of the console: formatting, the two streams and the
// key wait. The conversion to the console's encoding is per platform.
#include "core/console.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace {

std::string vformat(const char* format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    char small[256];
    int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0)
        return std::string();
    if (size_t(n) < sizeof small)
        return std::string(small, size_t(n));
    std::string text(size_t(n) + 1, '\0');
    std::vsnprintf(&text[0], text.size(), format, args);
    text.resize(size_t(n));
    return text;
}

void emit(FILE* stream, const std::string& utf8)
{
    std::string bytes = console::toConsole(utf8);
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
    std::fflush(stream);
}

} // namespace

namespace console {

size_t utf8SequenceLength(unsigned char lead)
{
    if (lead >= 0xF0 && lead < 0xF8)
        return 4;
    if (lead >= 0xE0)
        return lead < 0xF0 ? 3 : 1;
    if (lead >= 0xC0)
        return 2;
    return 1;
}

void out(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = vformat(format, args);
    va_end(args);
    emit(stdout, text);
}

void err(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = vformat(format, args);
    va_end(args);
    emit(stderr, text);
}

bool waitKey()
{
    return std::getchar() != EOF;
}

} // namespace console
