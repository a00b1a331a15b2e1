#include "core/console.h"

#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

// The streams stay in text mode: "\n" goes out as "\r\n", as a Windows console
// program's lines do on the console and in a redirected file. Shift_JIS trail
// bytes are never 0x0A, so the translation cannot touch a converted character.

namespace {

// Code page for a charset name: "CP932", "Shift_JIS", "EUC-JP", "UTF-8"; 0 unknown.
UINT codePage(const char* charset)
{
    std::string key;
    for (const char* p = charset; *p; ++p) {
        if (*p != '-' && *p != '_')
            key += char(std::tolower(static_cast<unsigned char>(*p)));
    }
    if (key == "shiftjis" || key == "sjis")
        return 932;
    if (key == "eucjp")
        return 20932;
    if (key == "utf8")
        return CP_UTF8;
    if (key.compare(0, 2, "cp") == 0 && key.size() > 2)
        return UINT(std::strtoul(key.c_str() + 2, nullptr, 10));
    return 0;
}

} // namespace

namespace console {

std::string toCharset(const std::string& utf8, const char* charset)
{
    UINT cp = codePage(charset);
    if (cp == 0 || cp == CP_UTF8 || !IsValidCodePage(cp))
        return utf8;
    std::string result;
    result.reserve(utf8.size());
    size_t i = 0;
    while (i < utf8.size()) {
        unsigned char lead = static_cast<unsigned char>(utf8[i]);
        if (lead < 0x80) {
            result += char(lead);
            ++i;
            continue;
        }
        // One character at a time, so that one the code page lacks, or broken
        // UTF-8, keeps its own bytes and the rest still converts.
        size_t length = console::utf8SequenceLength(lead);
        if (length > utf8.size() - i)
            length = utf8.size() - i;
        wchar_t wide[2];
        char narrow[8];
        int wn = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data() + i, int(length),
                                     wide, 2);
        BOOL usedDefault = FALSE;
        int nn = wn > 0 ? WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS, wide, wn, narrow,
                                              sizeof narrow, nullptr, &usedDefault)
                        : 0;
        if (nn > 0 && !usedDefault)
            result.append(narrow, size_t(nn));
        else
            result.append(utf8, i, length);
        i += length;
    }
    return result;
}

std::string toConsole(const std::string& utf8)
{
    return toCharset(utf8, "CP932");
}

std::string fromCp932(const std::string& cp932)
{
    std::string result;
    size_t i = 0;
    while (i < cp932.size()) {
        const unsigned char lead = static_cast<unsigned char>(cp932[i]);
        if (lead < 0x80) {
            result += char(lead);
            ++i;
            continue;
        }
        // One character at a time, so that a broken one becomes "?" alone.
        size_t length = console::isCp932Lead(lead) ? 2 : 1;
        if (length > cp932.size() - i)
            length = cp932.size() - i;
        wchar_t wide[2];
        char narrow[8];
        int wn = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, cp932.data() + i, int(length),
                                     wide, 2);
        int nn = wn > 0 ? WideCharToMultiByte(CP_UTF8, 0, wide, wn, narrow, sizeof narrow,
                                              nullptr, nullptr)
                        : 0;
        if (nn > 0)
            result.append(narrow, size_t(nn));
        else
            result += '?';
        i += length;
    }
    return result;
}

std::string argumentToCp932(const std::string& argument, bool* converted)
{
    if (converted)
        *converted = false;
    return argument;
}

} // namespace console
