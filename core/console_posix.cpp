#include "core/console.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <string>

namespace {

// The iconv name for the terminal's charset, or "" when it takes UTF-8 as it is.
// The locale is looked at once; LC_CTYPE is put back at once, because the rest of
// the program relies on the C locale's tolower.
std::string consoleCharset()
{
    std::string saved;
    if (const char* current = setlocale(LC_CTYPE, nullptr))
        saved = current;
    std::string codeset;
    if (setlocale(LC_CTYPE, "")) {
        codeset = nl_langinfo(CODESET);
    }
    setlocale(LC_CTYPE, saved.empty() ? "C" : saved.c_str());

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

} // namespace

namespace console {

std::string toCharset(const std::string& utf8, const char* charset)
{
    iconv_t cd = iconv_open(charset, "UTF-8");
    if (cd == iconv_t(-1))
        return utf8;
    std::string result;
    result.reserve(utf8.size() + 16);
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    char buffer[512];
    while (inLeft > 0) {
        char* out = buffer;
        size_t outLeft = sizeof buffer;
        size_t r = iconv(cd, &in, &inLeft, &out, &outLeft);
        result.append(buffer, size_t(out - buffer));
        if (r != size_t(-1) || errno == E2BIG)
            continue;
        // A character the charset lacks, or broken UTF-8: keep its bytes.
        size_t skip = console::utf8SequenceLength(static_cast<unsigned char>(*in));
        if (skip > inLeft)
            skip = inLeft;
        result.append(in, skip);
        in += skip;
        inLeft -= skip;
    }
    iconv_close(cd);
    return result;
}

std::string toConsole(const std::string& utf8)
{
    static const std::string charset = consoleCharset();
    if (charset.empty())
        return utf8;
    return toCharset(utf8, charset.c_str());
}

} // namespace console
