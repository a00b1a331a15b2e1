#include "core/console.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <string>

namespace {

// The environment's charset name as the locale gives it ("UTF-8", "EUC-JP",
// "ANSI_X3.4-1968" for plain C). LC_CTYPE is put back at once, because the rest
// of the program relies on the C locale's tolower.
std::string localeCodeset()
{
    std::string saved;
    if (const char* current = setlocale(LC_CTYPE, nullptr))
        saved = current;
    std::string codeset;
    if (setlocale(LC_CTYPE, "")) {
        codeset = nl_langinfo(CODESET);
    }
    setlocale(LC_CTYPE, saved.empty() ? "C" : saved.c_str());
    return codeset;
}

// The iconv name for the terminal's charset, or "" when it takes UTF-8 as it is.
// The locale is looked at once.
std::string consoleCharset()
{
    const std::string codeset = localeCodeset();
    std::string key;
    for (char c : codeset) {
        if (c != '-' && c != '_')
            key += char(std::tolower(static_cast<unsigned char>(c)));
    }
    // CP932 rather than strict Shift_JIS: the texts use characters (the wave
    // dash family, NEC row 13) that only the Windows table maps.
    if (key == "shiftjis" || key == "sjis" || key == "cp932")
        return "CP932";
    if (key == "eucjp")
        return "EUC-JP";
    return "";
}

// Converts with iconv one character at a time where it must: a sequence the
// target lacks, or one that is broken in the source, becomes `replacement`
// (nullptr: its own bytes) and the rest still converts. False when iconv
// knows neither charset.
bool convert(const std::string& text, const char* to, const char* from, bool fromCp932,
             const char* replacement, std::string* result)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == iconv_t(-1))
        return false;
    result->clear();
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char buffer[256];
    while (inLeft > 0) {
        char* out = buffer;
        size_t outLeft = sizeof buffer;
        size_t r = iconv(cd, &in, &inLeft, &out, &outLeft);
        result->append(buffer, size_t(out - buffer));
        if (r != size_t(-1) || errno == E2BIG)
            continue;
        // EILSEQ or EINVAL (cut short): step over one source character.
        const unsigned char lead = static_cast<unsigned char>(*in);
        size_t skip = fromCp932 ? (console::isCp932Lead(lead) ? 2 : 1)
                                : console::utf8SequenceLength(lead);
        if (skip > inLeft)
            skip = inLeft;
        if (replacement)
            result->append(replacement);
        else
            result->append(in, skip);
        in += skip;
        inLeft -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(cd);
    return true;
}

bool isValidUtf8(const std::string& text)
{
    for (size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const size_t length = console::utf8SequenceLength(lead);
        if (lead >= 0x80 && (length == 1 || i + length > text.size()))
            return false;
        for (size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        }
        i += length;
    }
    return true;
}

} // namespace

namespace console {

std::string fromCp932(const std::string& cp932)
{
    std::string utf8;
    if (convert(cp932, "UTF-8", "CP932", true, "?", &utf8))
        return utf8;
    // No CP932 table in this C library: ASCII stays, the rest is unknown.
    utf8.clear();
    for (unsigned char c : cp932)
        utf8 += c < 0x80 ? char(c) : '?';
    return utf8;
}

std::string argumentToCp932(const std::string& argument, bool* converted)
{
    if (converted)
        *converted = false;
    static const std::string codeset = localeCodeset();
    std::string from = codeset;
    // A plain C locale says nothing about the bytes; terminals send UTF-8.
    if (from.empty() || from == "ANSI_X3.4-1968" || from == "US-ASCII") {
        if (!isValidUtf8(argument))
            return argument;
        from = "UTF-8";
    }
    std::string cp932;
    if (!convert(argument, "CP932", from.c_str(), false, "?", &cp932))
        return argument;
    if (converted)
        *converted = true;
    return cp932;
}

std::string toCharset(const std::string& utf8, const char* charset)
{
    // A character the charset lacks, or broken UTF-8, keeps its bytes.
    std::string result;
    if (convert(utf8, charset, "UTF-8", false, nullptr, &result))
        return result;
    return utf8;
}

std::string toConsole(const std::string& utf8)
{
    static const std::string charset = consoleCharset();
    if (charset.empty())
        return utf8;
    return toCharset(utf8, charset.c_str());
}

} // namespace console
