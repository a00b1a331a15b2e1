#pragma once
// The one way text leaves the program. Messages are kept in the source as UTF-8
// and converted here, once, to the console's encoding: code page 932 on Windows,
// the locale's charset on POSIX (Shift_JIS, CP932 or EUC-JP through iconv, UTF-8
// as it is). Both streams are flushed after every call, so progress lines ending
// in "\r" show at once and the two streams keep their order.

#if defined(__MINGW32__)
// libstdc++ on mingw-w64 formats through mingw's own C99 printf (%zu, %lld),
// not the system's: check the formats as such.
#define FERRY2_PRINTF(a, b) __attribute__((format(gnu_printf, a, b)))
#elif defined(__GNUC__)
#define FERRY2_PRINTF(a, b) __attribute__((format(printf, a, b)))
#else
#define FERRY2_PRINTF(a, b)
#endif

#include <cstddef>
#include <string>

#include "core/i18n.h"

namespace console {

// Formatted text to standard output.
void out(const char* format, ...) FERRY2_PRINTF(1, 2);
// Formatted text to standard error.
void err(const char* format, ...) FERRY2_PRINTF(1, 2);
// Reads one character from standard input and discards it. End of input counts
// as a key, so a run without standard input never hangs; the result tells the
// two apart (false at end of input).
bool waitKey();
// The message of a disk prompt that can no longer be answered: standard input
// has ended and the drive is still empty.
constexpr const char* kNoKeyMessage = N_("キー入力がないため中止しました.\n");

// Length of the UTF-8 sequence that begins with lead (1 for a stray byte).
size_t utf8SequenceLength(unsigned char lead);

// Converts UTF-8 text to the console encoding (exposed for tests).
// Text that cannot be converted is passed through unchanged.
std::string toConsole(const std::string& utf8);

// Converts UTF-8 text to the named charset ("CP932", "EUC-JP"), with the same
// pass-through rule; an unknown charset leaves the text as it is.
std::string toCharset(const std::string& utf8, const char* charset);

// CP932 bytes (a D88 title) as UTF-8 text for out() and err(), which convert it
// once more for the console. A byte sequence that is not CP932 becomes "?".
std::string fromCp932(const std::string& cp932);

// A command-line argument as CP932 bytes: converted from the locale's charset
// on POSIX (taken as UTF-8 when the locale names plain ASCII), kept as typed
// on Windows, whose arguments already are in the ANSI code page. A character
// that CP932 lacks becomes "?". *converted (when given) says whether this
// program converted it: only then are the bytes known to be CP932.
std::string argumentToCp932(const std::string& argument, bool* converted = nullptr);

// True for a CP932 lead byte, the first of a double-byte character.
inline bool isCp932Lead(unsigned char b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

} // namespace console
