#include "core/console.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
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

TEST(Console, EveryMessageConvertsCompletely)
{
    const char* texts[] = {
        "通信ポート %d, %d bps で接続します.\n\n",
        ("88 にプログラムを転送します。\n88 で load \"COM:N81X\" というコマンドを実行してください。"
         "\n\nよろしいですか ?"),
        "    -s    88 -> PC 間で高速転送を行わない (19200 bps 時のみ)",
        "    -m#   読み出すディスクのメディアを指定(0:2D 1:2DD 2:2HD)",
        "この機種では %s のディスクイメージは書き戻しできません．\n",
        "rom bitmap is %.2x (漢字1:%d, 漢字2:%d, 辞書:%d, CD:%d)\n",
        "PC88 のドライブ %d に新しいディスクを入れてキーを押してください.\n",
        "ディスクはライトプロテクトされています.\n",
        "指定されたディスクがありません.\n",
    };
    const char* charsets[] = {"CP932", "EUC-JP"};
    for (const char* charset : charsets) {
        for (const char* text : texts) {
            std::string converted = console::toCharset(text, charset);
            EXPECT_EQ(text, fromCharset(converted, charset)) << charset;
        }
    }
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
