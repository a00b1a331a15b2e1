// The built-in catalogues and the language a locale chooses.
#include "core/i18n.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// The printf directives of a format, in order, as written: "%3d" and "%d"
// count as different. "%%" is text, not a directive.
std::vector<std::string> directives(const char* text)
{
    std::vector<std::string> found;
    for (const char* p = text; *p; ++p) {
        if (*p != '%')
            continue;
        const char* start = p++;
        if (*p == '%')
            continue;
        while (*p && std::strchr("-+ #0123456789.*$hlLqjzt", *p))
            ++p;
        if (!*p)
            break;
        found.emplace_back(start, p + 1);
    }
    return found;
}

TEST(Catalogue, DirectivesParse)
{
    EXPECT_EQ(directives("転送中 (%d%%).\r"), std::vector<std::string>{"%d"});
    EXPECT_EQ(directives("%02X%s %3d %.2x %llu"),
              (std::vector<std::string>{"%02X", "%s", "%3d", "%.2x", "%llu"}));
    EXPECT_TRUE(directives("no directive 100%%").empty());
}

// A translation that takes other arguments than its source would print
// garbage or crash; msgfmt guards the PO files where gettext is installed.
TEST(Catalogue, EveryEntryKeepsItsSourcesDirectives)
{
    ASSERT_GT(i18n::kCatalogueCount, 0u);
    for (size_t c = 0; c < i18n::kCatalogueCount; ++c) {
        const i18n::Catalogue& catalogue = i18n::kCatalogues[c];
        EXPECT_GT(catalogue.count, 0u) << catalogue.language;
        for (size_t i = 0; i < catalogue.count; ++i) {
            const i18n::Entry& e = catalogue.entries[i];
            EXPECT_EQ(directives(e.msgstr), directives(e.msgid))
                << catalogue.language << ": " << e.msgid << " -> " << e.msgstr;
        }
    }
}

TEST(Catalogue, EnglishIsAscii)
{
    const i18n::Catalogue* english = i18n::catalogueFor("en_US.UTF-8");
    ASSERT_NE(english, nullptr);
    EXPECT_STREQ(english->language, "en");
    for (size_t i = 0; i < english->count; ++i) {
        const std::string text = english->entries[i].msgstr;
        for (unsigned char ch : text)
            EXPECT_LT(ch, 0x80) << text;
    }
    EXPECT_STREQ(i18n::lookUp(*english, "終了しました。\n"), "Done.\n");
    EXPECT_EQ(i18n::lookUp(*english, "no such message"), nullptr);
}

TEST(Catalogue, LocaleChoosesLanguage)
{
    const struct {
        const char* locale;
        const char* language;  // nullptr: the Japanese source text
    } rows[] = {
        {"ja_JP.UTF-8", nullptr}, {"ja_JP.eucJP", nullptr}, {"ja", nullptr},
        {"C", nullptr},           {"POSIX", nullptr},       {"C.UTF-8", nullptr},
        {"C.utf8", nullptr},      {"", nullptr},            {"ja:en", nullptr},
        {"en_US.UTF-8", "en"},    {"en", "en"},             {"en_GB", "en"},
        {"de_DE.UTF-8", "en"},    {"fr_FR@euro", "en"},     {"en:ja", "en"},
        {"Czech", "en"},          {"c", "en"},
    };
    for (const auto& row : rows) {
        const i18n::Catalogue* chosen = i18n::catalogueFor(row.locale);
        EXPECT_STREQ(chosen ? chosen->language : nullptr, row.language) << row.locale;
    }
}

} // namespace
