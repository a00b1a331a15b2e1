// The Windows console conversion: UTF-8 messages to code page 932 through the
// system's own tables, character by character.
#include "core/console.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string hex(const std::string& bytes)
{
    std::string s;
    char cell[4];
    for (unsigned char c : bytes) {
        std::snprintf(cell, sizeof cell, "%02X ", c);
        s += cell;
    }
    return s;
}

struct Golden {
    const char* utf8;
    std::string cp932;
};

TEST(ConsoleWin32, ConvertsToCodePage932)
{
    const Golden rows[] = {
        {"通信", "\x92\xCA\x90\x4D"},
        {"終了しました。\n", "\x8F\x49\x97\xB9\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x42\n"},
        {"転送中 (%d%%).\r", "\x93\x5D\x91\x97\x92\x86 (%d%%).\r"},
        // Only code page 932 has these: full-width tilde, NEC row 13, the
        // IBM extension (髙).
        {"～①", "\x81\x60\x87\x40"},
        {"髙", "\xFB\xFC"},
        // Half-width katakana are single bytes.
        {"ｱｲ", "\xB1\xB2"},
        {"Track  12: ok\r\n", "Track  12: ok\r\n"},
        {"", ""},
    };
    for (const Golden& row : rows) {
        std::string got = console::toConsole(row.utf8);
        EXPECT_EQ(row.cp932, got) << row.utf8 << "\nexpected " << hex(row.cp932) << "\nactual   "
                                  << hex(got);
        EXPECT_EQ(row.cp932, console::toCharset(row.utf8, "Shift_JIS")) << row.utf8;
        EXPECT_EQ(row.cp932, console::toCharset(row.utf8, "cp932")) << row.utf8;
    }
}

// What the code page lacks, and broken UTF-8, keep their bytes; the text
// around them still converts.
TEST(ConsoleWin32, UnconvertibleBytesPassThrough)
{
    const Golden rows[] = {
        {"a\xC3\xA9z", "a\xC3\xA9z"},                       // é: no best-fit 'e'
        {"\xFF\x41\xE9\x80", "\xFF\x41\xE9\x80"},           // broken sequences
        {"通\xE9\x80", "\x92\xCA\xE9\x80"},                 // truncated at the end
        // A file name typed on a Japanese Windows arrives in code page 932
        // already ("表示.d88", a 0x5C trail byte included) and stays so.
        {"\x95\x5C\x8E\xA6.d88", "\x95\x5C\x8E\xA6.d88"},
        {"\xF0\x9F\x98\x80信", "\xF0\x9F\x98\x80\x90\x4D"}, // outside the BMP
    };
    for (const Golden& row : rows) {
        std::string got = console::toConsole(row.utf8);
        EXPECT_EQ(row.cp932, got) << "expected " << hex(row.cp932) << "\nactual   " << hex(got);
    }
}

TEST(ConsoleWin32, CharsetNames)
{
    EXPECT_EQ("\xC4\xCC\xBF\xAE", console::toCharset("通信", "EUC-JP"));
    EXPECT_EQ("通信", console::toCharset("通信", "UTF-8"));
    EXPECT_EQ("通信", console::toCharset("通信", "no-such-charset"));
    EXPECT_EQ("通信", console::toCharset("通信", "cp99999"));
}

} // namespace
