#include "core/console.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>
#include "tests/support/hex_dump.h"

namespace {

using testsupport::hexDump;

struct Golden {
    const char* utf8;
    const char* charset;
    std::string bytes;
};

TEST(Console, ConvertsToJapaneseCharsets)
{
    const Golden rows[] = {
        {"通信", "CP932", "\x92\xCA\x90\x4D"},
        {"通信", "EUC-JP", "\xC4\xCC\xBF\xAE"},
        {"終了しました。\n", "CP932",
         "\x8F\x49\x97\xB9\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x42\n"},
        {"転送中 (%d%%).\r", "CP932", "\x93\x5D\x91\x97\x92\x86 (%d%%).\r"},
        // Characters only the Windows table has: full-width tilde, NEC row 13.
        {"～①", "CP932", "\x81\x60\x87\x40"},
        // Nothing to convert, and what cannot be converted keeps its bytes.
        {"Track  12: ok\r\n", "CP932", "Track  12: ok\r\n"},
        {"a\xC3\xA9z", "CP932", "a\xC3\xA9z"},
        {"\xFF\x41\xE9\x80", "CP932", "\xFF\x41\xE9\x80"},
        {"", "CP932", ""},
        {"通信", "no-such-charset", "通信"},
    };
    for (const Golden& row : rows) {
        std::string got = console::toCharset(row.utf8, row.charset);
        EXPECT_EQ(row.bytes, got) << row.utf8 << " to " << row.charset << "\nexpected "
                                  << hexDump(row.bytes) << "\nactual   " << hexDump(got);
    }
}

// Back from charset to UTF-8 with iconv itself, to see that nothing was passed
// through unconverted.
std::string fromCharset(const std::string& bytes, const char* charset)
{
    iconv_t cd = iconv_open("UTF-8", charset);
    if (cd == iconv_t(-1))
        return "(no converter)";
    std::string out(bytes.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    char* o = &out[0];
    size_t outLeft = out.size();
    size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
    iconv_close(cd);
    if (r == size_t(-1))
        return "(invalid)";
    out.resize(out.size() - outLeft);
    return out;
}

// The text of every string literal of a source file that holds more than
// ASCII, adjacent literals joined as the compiler joins them.
std::vector<std::string> textLiterals(const std::string& source)
{
    std::vector<std::string> texts;
    std::string current;
    bool inLiteral = false, joinable = false;
    for (size_t i = 0; i < source.size(); ++i) {
        const char c = source[i];
        if (inLiteral) {
            if (c == '\\' && i + 1 < source.size()) {
                const char e = source[++i];
                current += e == 'n' ? '\n' : e == 't' ? '\t' : e;
            } else if (c == '"') {
                inLiteral = false;
                joinable = true;
            } else {
                current += c;
            }
            continue;
        }
        if (c == '/' && i + 1 < source.size() && source[i + 1] == '/') {
            i = source.find('\n', i);
            if (i == std::string::npos)
                break;
            continue;
        }
        if (c == '\'' && i + 2 < source.size()) {
            i = source.find('\'', i + (source[i + 1] == '\\' ? 3 : 2));
            if (i == std::string::npos)
                break;
            continue;
        }
        if (c == '"') {
            inLiteral = true;
            if (!joinable)
                current.clear();
            continue;
        }
        if (c == ' ' || c == '\n' || c == '\t')
            continue;
        if (joinable) {
            bool ascii = true;
            for (unsigned char b : current)
                ascii = ascii && b < 0x80;
            if (!ascii)
                texts.push_back(current);
            current.clear();
        }
        joinable = false;
    }
    return texts;
}

// Every message the program prints survives the console charsets it meets:
// each literal of the client's sources that holds more than ASCII converts to
// CP932 and EUC-JP and back unchanged.
TEST(Console, EveryMessageConvertsCompletely)
{
    const std::string root = FERRY2_SOURCE_DIR;
    size_t count = 0;
    for (const char* room : {"app", "core", "image", "link", "transfer", "inspect", "convert"}) {
        for (const auto& entry : std::filesystem::directory_iterator(root + "/" + room)) {
            const std::string path = entry.path().string();
            if (path.size() < 4 || path.compare(path.size() - 4, 4, ".cpp") != 0)
                continue;
            std::ifstream in(path, std::ios::binary);
            const std::string source((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
            for (const std::string& text : textLiterals(source)) {
                ++count;
                for (const char* charset : {"CP932", "EUC-JP"}) {
                    const std::string converted = console::toCharset(text, charset);
                    EXPECT_EQ(text, fromCharset(converted, charset)) << charset << " " << path;
                }
            }
        }
    }
    // The usage text, the closing messages, the prompts, the i listings.
    EXPECT_GT(count, 150u);
}

TEST(Console, Utf8ConsoleTakesTextAsItIs)
{
    std::string saved = setlocale(LC_CTYPE, nullptr);
    setlocale(LC_CTYPE, "");
    std::string codeset = nl_langinfo(CODESET);
    setlocale(LC_CTYPE, saved.c_str());
    if (codeset != "UTF-8")
        GTEST_SKIP() << "the locale's charset is " << codeset;

    const std::string text = "ディスクの種類は 2DD です.\n\xFF";
    EXPECT_EQ(text, console::toConsole(text));
    // Looking at the user's locale leaves the program in the one it had.
    EXPECT_EQ(saved, setlocale(LC_CTYPE, nullptr));
}

TEST(Console, FormatsAnyLengthToItsStream)
{
    std::string long1000(1000, 'x');
    testing::internal::CaptureStdout();
    console::out("Track %3d: %s|%s\r", 7, "ok", long1000.c_str());
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ("Track   7: ok|" + long1000 + "\r", printed);

    testing::internal::CaptureStderr();
    console::err("%s", "e\n");
    EXPECT_EQ("e\n", testing::internal::GetCapturedStderr());
}

} // namespace
