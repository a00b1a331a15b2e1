// Command-line parsing: atoi-valued options, letters that take the rest of an
// argument, the title, the file argument and the usage exits.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/closing.h"
#include "app/options.h"
#include "core/outcome.h"
#include "core/verbose.h"

namespace {

struct Parsed {
    bool ok;
    ParseResult result;
    RunOptions options;
    bool verbose;
};

Parsed parse(std::vector<std::string> args)
{
    args.insert(args.begin(), "ferry2");
    std::vector<const char*> argv;
    for (auto& a : args)
        argv.push_back(a.c_str());
    verbose = false;
    Parsed p;
    p.result = parseOptions(static_cast<int>(argv.size()), argv.data(), p.options);
    p.ok = p.result == ParseResult::Run;
    p.verbose = verbose;
    verbose = false;
    return p;
}

std::string title(const RunOptions& o)
{
    return std::string(o.title, o.title + 17);
}

TEST(Options, CommandLetterIsFirstCharacterLowered)
{
    struct Row {
        const char* arg;
        int command;
    } rows[] = {{"R", 'r'}, {"read", 'r'}, {"bogus", 'b'}, {"S", 's'}, {"x", 'x'}};
    for (const auto& row : rows) {
        Parsed p = parse({row.arg, "disk.d88"});
        ASSERT_TRUE(p.ok) << row.arg;
        EXPECT_EQ(p.options.command, row.command) << row.arg;
    }
}

TEST(Options, NoArgumentsIsUsage)
{
    EXPECT_FALSE(parse({}).ok);
}

TEST(Options, FlagsAndValues)
{
    struct Row {
        std::vector<std::string> args;
        int port, speed, drive, medium;
        bool allowFast, protect, verbose;
    } rows[] = {
        {{"s"}, 1, 19200, -1, -1, true, false, false},
        {{"r", "-vw", "a"}, 1, 19200, -1, -1, true, true, true},
        {{"s", "-19"}, 1, 9600, -1, -1, true, false, false},
        {{"s", "-9", "-1"}, 1, 19200, -1, -1, true, false, false},
        {{"s", "-p2v"}, 2, 19200, -1, -1, true, false, false},   // v ignored after p
        {{"s", "-P3"}, 3, 19200, -1, -1, true, false, false},
        {{"s", "-p"}, 0, 19200, -1, -1, true, false, false},
        {{"s", "-p", "2"}, 0, 19200, -1, -1, true, false, false}, // 2 is the file argument
        {{"s", "-p 7"}, 7, 19200, -1, -1, true, false, false},   // atoi skips blanks
        {{"s", "-p-3"}, -3, 19200, -1, -1, true, false, false},
        {{"r", "-m2", "a"}, 1, 19200, -1, 3, true, false, false},
        {{"r", "-m0", "a"}, 1, 19200, -1, 0, true, false, false},
        {{"r", "-m1", "a"}, 1, 19200, -1, 1, true, false, false},
        {{"r", "-d2", "a"}, 1, 19200, 2, -1, true, false, false},
        {{"r", "-sd1", "a"}, 1, 19200, 1, -1, false, false, false},
        {{"s", "-"}, 1, 19200, -1, -1, true, false, false},      // lone hyphen skipped
        {{"s", "-V"}, 1, 19200, -1, -1, true, false, true},
    };
    for (const auto& row : rows) {
        Parsed p = parse(row.args);
        std::string label = row.args.size() > 1 ? row.args[1] : row.args[0];
        ASSERT_TRUE(p.ok) << label;
        EXPECT_EQ(p.options.port, row.port) << label;
        EXPECT_EQ(p.options.speed, row.speed) << label;
        EXPECT_EQ(p.options.drive, row.drive) << label;
        EXPECT_EQ(p.options.medium, row.medium) << label;
        EXPECT_EQ(p.options.allowFast, row.allowFast) << label;
        EXPECT_EQ(p.options.protect, row.protect) << label;
        EXPECT_EQ(p.verbose, row.verbose) << label;
    }
}

TEST(Options, UsageExits)
{
    const std::vector<std::vector<std::string>> rows = {
        {"r", "-m3", "a"}, {"r", "-m-1", "a"}, {"r", "-d0", "a"}, {"r", "-d3", "a"},
        {"r", "-d", "a"},  {"r", "-t"},        {"r", "a", "-t"},  {"s", "-x"},
        {"r"},             {"w"},              {"r", "a", "b"},  {"s", "a", "b"},
        {"b", "a", "b"},   {"w", "-v"},
    };
    for (const auto& args : rows) {
        std::string label;
        for (const auto& a : args)
            label += a + " ";
        EXPECT_FALSE(parse(args).ok) << label;
    }
}

TEST(Options, FileArgument)
{
    Parsed p = parse({"w", "-v", "disk.d88;2"});
    ASSERT_TRUE(p.ok);
    EXPECT_TRUE(p.options.hasFileArg);
    EXPECT_EQ(p.options.fileArg, "disk.d88;2");
    // s and b accept and ignore one file argument.
    EXPECT_TRUE(parse({"s", "x"}).ok);
    EXPECT_TRUE(parse({"b", "x"}).ok);
}

TEST(Options, Titles)
{
    EXPECT_EQ(title(parse({"r", "a"}).options), std::string(16, ' ') + std::string(1, '\0'));
    // -tv takes the next argument as the title and ignores the v.
    Parsed tv = parse({"r", "-tv", "name", "a"});
    ASSERT_TRUE(tv.ok);
    EXPECT_FALSE(tv.verbose);
    EXPECT_EQ(title(tv.options), std::string("name") + std::string(13, '\0'));
    EXPECT_EQ(tv.options.fileArg, "a");
    EXPECT_EQ(title(parse({"r", "-t", "abc", "a"}).options), "abc" + std::string(14, '\0'));
    EXPECT_EQ(title(parse({"r", "-t", "ABCDEFGHIJKLMNOPQRST", "a"}).options),
              std::string("ABCDEFGHIJKLMNOP") + std::string(1, '\0'));
#ifdef _WIN32
    // Arguments come in the ANSI code page, not converted: the first 16 bytes.
    EXPECT_EQ(title(parse({"r", "-t", "ABCDEFGHIJKLMNO\x82\xA0", "a"}).options),
              std::string("ABCDEFGHIJKLMNO\x82") + std::string(1, '\0'));
#else
    // Converted from UTF-8: a double-byte character that does not fit whole is left out.
    EXPECT_EQ(title(parse({"r", "-t", "ABCDEFGHIJKLMNO\xE3\x81\x82", "a"}).options),
              std::string("ABCDEFGHIJKLMNO") + std::string(2, '\0'));
#endif
}

TEST(Options, DevicePath)
{
    Parsed p = parse({"s", "-p/dev/pts/3"});
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.options.port, 0);
    ASSERT_NE(p.options.path(), nullptr);
    EXPECT_STREQ(p.options.path(), "/dev/pts/3");
    EXPECT_EQ(parse({"s", "-p2"}).options.path(), nullptr);
}

TEST(Options, LongOptionsAndRequests)
{
    struct Row {
        std::vector<std::string> args;
        ParseResult result;
        bool verify, resume;
        int retries;
        const char* svg;
    } rows[] = {
        {{"w", "--verify", "a"}, ParseResult::Run, true, false, 0, ""},
        {{"w", "a", "--verify", "-v"}, ParseResult::Run, true, false, 0, ""},
        {{"r", "--resume", "a"}, ParseResult::Run, false, true, 0, ""},
        {{"r", "--retries", "3", "a"}, ParseResult::Run, false, false, 3, ""},
        {{"r", "--retries=9", "a"}, ParseResult::Run, false, false, 9, ""},
        {{"i", "a", "--svg", "x.svg"}, ParseResult::Run, false, false, 0, "x.svg"},
        {{"i", "a", "--svg=x.svg"}, ParseResult::Run, false, false, 0, "x.svg"},
        {{"r", "--retries", "10", "a"}, ParseResult::Usage, false, false, 0, ""},
        {{"r", "--retries", "x", "a"}, ParseResult::Usage, false, false, 0, ""},
        {{"r", "a", "--retries"}, ParseResult::Usage, false, false, 0, ""},
        {{"r", "--verify", "a"}, ParseResult::Usage, false, false, 0, ""},   // w only
        {{"w", "--resume", "a"}, ParseResult::Usage, false, false, 0, ""},   // r only
        {{"w", "--verify=1", "a"}, ParseResult::Usage, false, false, 0, ""},
        {{"w", "--verfy", "a"}, ParseResult::Usage, false, false, 0, ""},
        {{"i", "a", "b", "--svg", "x.svg"}, ParseResult::Usage, false, false, 0, ""},
        {{"i"}, ParseResult::Usage, false, false, 0, ""},
        {{"i", "a", "b", "c"}, ParseResult::Usage, false, false, 0, ""},
        {{"--help"}, ParseResult::Help, false, false, 0, ""},
        {{"-h"}, ParseResult::Help, false, false, 0, ""},
        {{"help"}, ParseResult::Help, false, false, 0, ""},
        // Only those three: another word starting with h is a command letter.
        {{"hoge"}, ParseResult::Run, false, false, 0, ""},
        {{"H"}, ParseResult::Run, false, false, 0, ""},
        {{"r", "a", "--help"}, ParseResult::Help, false, false, 0, ""},
        {{"--version"}, ParseResult::Version, false, false, 0, ""},
        {{"--bogus"}, ParseResult::Usage, false, false, 0, ""},
    };
    for (const auto& row : rows) {
        std::string label;
        for (const auto& a : row.args)
            label += a + " ";
        Parsed p = parse(row.args);
        EXPECT_EQ(static_cast<int>(p.result), static_cast<int>(row.result)) << label;
        if (p.result != ParseResult::Run)
            continue;
        EXPECT_EQ(p.options.verify, row.verify) << label;
        EXPECT_EQ(p.options.resume, row.resume) << label;
        EXPECT_EQ(p.options.retries, row.retries) << label;
        EXPECT_EQ(p.options.svgPath, row.svg) << label;
    }
    Parsed image = parse({"w", "--image=3", "a.d88"});
    ASSERT_TRUE(image.ok);
    EXPECT_EQ(image.options.imageIndex, 3);
    EXPECT_EQ(image.options.fileArg, "a.d88");
    Parsed two = parse({"i", "a.d88;2", "b.d88"});
    ASSERT_TRUE(two.ok);
    EXPECT_EQ(two.options.fileArg, "a.d88;2");
    EXPECT_EQ(two.options.fileArg2, "b.d88");
}

TEST(Options, AtoiValue)
{
    struct Row {
        const char* text;
        int value;
    } rows[] = {{"", 0},     {"12x", 12}, {"  -4", -4}, {"+5", 5},
                {"x3", 0},   {"99999999999", 2147483647}, {"-99999999999", -2147483647 - 1}};
    for (const auto& row : rows)
        EXPECT_EQ(atoiValue(row.text), row.value) << row.text;
}

// A mistyped letter connects only as a check: when that fails, the message
// says the letter is no command and does not send the user to upload the agent.
TEST(Closing, MistypedLetterGetsNoUploadAdvice)
{
    for (int command : {'x', 'r'}) {
        Outcome o = Outcome::failed(Step::Connect, Cause::NoAnswer);
        if (command == 'x')
            o.notACommand = command;
        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        EXPECT_EQ(closeRun(o), 1);
        const std::string err = testing::internal::GetCapturedStderr();
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(err.find("ferry2 b") == std::string::npos, command == 'x') << err;
        // The console's encoding differs between systems: the ASCII part names it.
        EXPECT_EQ(err.find("(b, s, r, w, i") != std::string::npos, command == 'x') << err;
    }
}

} // namespace

namespace
{

TEST(Options, ConvertOptions)
{
    struct Row {
        std::vector<std::string> args;
        ParseResult result;
        const char *from, *to, *geometry;
        bool lossy;
        int image;
    } rows[] = {
        {{"c", "a.d88", "b.hfe"}, ParseResult::Run, "", "", "", false, 0},
        {{"c", "--from", "imd", "--to=raw", "a", "b"}, ParseResult::Run, "imd", "raw", "", false, 0},
        {{"c", "--lossy", "a", "b.imd"}, ParseResult::Run, "", "", "", true, 0},
        {{"c", "a.bin", "b.d88", "--geometry", "35,2,16,1"}, ParseResult::Run, "", "", "35,2,16,1",
         false, 0},
        {{"c", "--image", "3", "a.d88", "b.d88"}, ParseResult::Run, "", "", "", false, 3},
        {{"c", "a.d88"}, ParseResult::Usage, "", "", "", false, 0},
        {{"c", "a", "b", "c"}, ParseResult::Usage, "", "", "", false, 0},
        {{"c", "--to", "adf", "a", "b"}, ParseResult::Usage, "", "", "", false, 0},
        {{"c", "--geometry", "35,2,16", "a", "b"}, ParseResult::Usage, "", "", "", false, 0},
        {{"c", "--lossy=1", "a", "b"}, ParseResult::Usage, "", "", "", false, 0},
        {{"c", "--image", "0", "a", "b"}, ParseResult::Usage, "", "", "", false, 0},
        {{"w", "--lossy", "a"}, ParseResult::Usage, "", "", "", false, 0},   // c only
        {{"i", "--from", "hfe", "a"}, ParseResult::Usage, "", "", "", false, 0},
    };
    for (const auto& row : rows) {
        std::string label;
        for (const auto& a : row.args)
            label += a + " ";
        Parsed p = parse(row.args);
        EXPECT_EQ(static_cast<int>(p.result), static_cast<int>(row.result)) << label;
        if (p.result != ParseResult::Run)
            continue;
        EXPECT_EQ(p.options.fromFormat, row.from) << label;
        EXPECT_EQ(p.options.toFormat, row.to) << label;
        EXPECT_EQ(p.options.geometry, row.geometry) << label;
        EXPECT_EQ(p.options.lossy, row.lossy) << label;
        EXPECT_EQ(p.options.imageIndex, row.image) << label;
        EXPECT_EQ(p.options.fileArg2.empty(), false) << label;
    }
}

} // namespace
