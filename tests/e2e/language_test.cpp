// The message language end to end: under an English locale each kind of run
// prints English and nothing but ASCII outside a disk title; under a Japanese
// or the C locale it prints what it prints under C.UTF-8, the locale the other
// end-to-end tests pin the Japanese text under.
#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "sim/d88_builder.h"
#include "tests/e2e/harness.h"

namespace {

using e2e::RunResult;

// Every locale variable unset, then the row's own.
std::vector<std::string> localeOnly(const std::string& setting)
{
    return {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG", setting};
}

// A 2D image with a Japanese title ("テスト" in CP932), which w prints.
std::vector<uint8_t> titledImage()
{
    sim::D88Builder b(0x00);
    b.setTitleBytes({0x83, 0x65, 0x83, 0x58, 0x83, 0x67, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    for (int t = 0; t < 10; ++t)
        b.addRegularTrack(t, 16, 1);
    return b.build();
}

// One kind of run in a fresh folder, against a fresh ferry88sim; the sim's
// pseudo-terminal shows as "PORT".
struct Scenario {
    const char* name;
    std::vector<std::string> simArgs;   // none: no sim
    std::vector<std::string> args;      // "PORT" becomes -p<the sim's port>
    int status;
    std::vector<std::string> english;   // lines (or parts) of out + err in English
};

const Scenario kScenarios[] = {
    {"r of the sample disk", {"--sample"}, {"r", "PORT", "out.d88"}, 0,
     {"Connecting on serial port PORT at 19200 bps.\n", "The disk is 2D.\n",
      "Result: 84 tracks (", " sectors (", "bytes -> out.d88;1\n", "Done.\n"}},
    {"r cut off by a hang-up", {"--sample", "--hangup-after", "8"}, {"r", "PORT", "out.d88"}, 1,
     {"Reading track 5: the line was cut. Check the cable, the USB adapter and that the 88 is "
      "switched on.\n",
      "run the same r with --resume"}},
    {"w --verify with a bad sector", {"--blank1", "2D", "--bad-sector", "7:3"},
     {"w", "--verify", "PORT", "img.d88"}, 1,
     {"Reading the written disk back to verify it.\n", "Rewriting the tracks that differ: 1.\n",
      "Verifying track 7: tracks still differing after rewriting: 1.", "  Track 7: R3 "}},
    {"a missing port", {}, {"r", "-p/dev/ttyUSB97", "x.d88"}, 1,
     {"Could not set up the serial device (-1).\n", "There is no serial port /dev/ttyUSB97 ("}},
    {"--help", {}, {"--help"}, 0,
     {"usage:\n", "          makes a disk image from a disk\n", "\nlanguage:\n"}},
};

RunResult runScenario(const Scenario& s, const std::vector<std::string>& environment)
{
    e2e::TempDir dir;
    e2e::writeFile(dir.file("img.d88"), titledImage());
    std::unique_ptr<e2e::Sim> sim;
    if (!s.simArgs.empty())
        sim = std::make_unique<e2e::Sim>(s.simArgs, dir.path());
    std::vector<std::string> args = s.args;
    for (std::string& a : args)
        if (a == "PORT")
            a = sim->portArg();
    e2e::RunHooks hooks;
    hooks.environment = environment;
    RunResult r = e2e::runFerry2(args, dir.path(), "\n", 60000, hooks);
    // The run's time ("19 ms.") differs from run to run as well.
    static const std::regex kTime("(^|\n)[0-9]+ ms\\.");
    for (std::string* text : {&r.out, &r.err}) {
        if (sim)
            for (size_t at; (at = text->find(sim->port())) != std::string::npos;)
                text->replace(at, sim->port().size(), "PORT");
        *text = std::regex_replace(*text, kTime, "$1N ms.");
    }
    return r;
}

// Bytes of 0x80 and above outside "[...]", the one place a title shows.
std::string nonAsciiOutsideTitles(const std::string& text)
{
    std::string found;
    bool inTitle = false;
    for (unsigned char c : text) {
        if (c == '[' || c == ']')
            inTitle = c == '[';
        else if (c == '\n')
            inTitle = false;
        else if (c >= 0x80 && !inTitle)
            found += static_cast<char>(c);
    }
    return found;
}

TEST(Language, EnglishLocaleGetsEnglish)
{
    for (const Scenario& s : kScenarios) {
        SCOPED_TRACE(s.name);
        const RunResult r = runScenario(s, localeOnly("LANG=en_US.UTF-8"));
        EXPECT_EQ(r.status, s.status) << r.out << r.err;
        const std::string all = r.out + r.err;
        for (const std::string& line : s.english)
            EXPECT_NE(all.find(line), std::string::npos) << "missing: " << line << "\n" << all;
        EXPECT_EQ(nonAsciiOutsideTitles(all), "") << all;
    }
}

TEST(Language, TitleStaysJapaneseInEnglish)
{
    const RunResult r = runScenario(kScenarios[2], localeOnly("LANG=en_US.UTF-8"));
    EXPECT_NE(r.out.find("Writing back [テスト] (2D).\n"), std::string::npos) << r.out;
}

// Under a Japanese or the C locale nothing changes, byte for byte.
TEST(Language, JapaneseAndCLocalesPrintWhatTheyPrinted)
{
    const struct {
        const char* name;
        std::vector<std::string> environment;
    } locales[] = {
        {"LANG=ja_JP.UTF-8", localeOnly("LANG=ja_JP.UTF-8")},
        {"LC_ALL=C", localeOnly("LC_ALL=C")},
        {"LANGUAGE=ja over LANG=en_US.UTF-8", {"LC_ALL", "LANG=en_US.UTF-8", "LANGUAGE=ja"}},
    };
    for (const Scenario& s : kScenarios) {
        SCOPED_TRACE(s.name);
        const RunResult today = runScenario(s, {});
        EXPECT_EQ(today.status, s.status) << today.out << today.err;
        EXPECT_NE(nonAsciiOutsideTitles(today.out + today.err), "") << "not the Japanese text";
        for (const auto& locale : locales) {
            SCOPED_TRACE(locale.name);
            const RunResult r = runScenario(s, locale.environment);
            EXPECT_EQ(r.status, today.status);
            EXPECT_EQ(r.out, today.out);
            EXPECT_EQ(r.err, today.err);
        }
    }
}

} // namespace
