#include "app/options.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include <string>

#include "core/console.h"
#include "image/d88.h"
#include "core/verbose.h"

namespace {

// tolower in the default "C" locale: only A..Z change.
int lowerAscii(int c)
{
    return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace

int atoiValue(const char* text)
{
    while (isBlank(*text))
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-')
        negative = *text++ == '-';
    long long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        value = INT_MAX;
    return static_cast<int>(value);
}

void setTitle(RunOptions& options, const char* argument)
{
    bool converted = false;
    const std::string cp932 = console::argumentToCp932(argument, &converted);
    const size_t most = d88::kTitleLength;
    size_t length = std::min(cp932.size(), most);
    // Bytes this program converted are CP932 for sure: never the lead byte of
    // a character without its trail. Others are copied as they came.
    if (converted) {
        length = 0;
        while (length < cp932.size()) {
            const bool lead = console::isCp932Lead(static_cast<unsigned char>(cp932[length]));
            const size_t step = lead ? 2 : 1;
            if (length + step > most || length + step > cp932.size())
                break;
            length += step;
        }
    }
    std::memset(options.title, 0, sizeof options.title);
    std::memcpy(options.title, cp932.data(), length);
}

namespace {

enum class LongResult { Taken, Usage, Help, Version };

// One "--name" or "--name=value" argument; a value may also be the next
// argument. *i moves past what was consumed.
LongResult parseLong(int argc, const char* const* argv, int* i, RunOptions& options)
{
    std::string name = argv[*i];
    std::string value;
    bool hasValue = false;
    const size_t eq = name.find('=');
    if (eq != std::string::npos) {
        value = name.substr(eq + 1);
        name.resize(eq);
        hasValue = true;
    }
    auto takeValue = [&]() {
        if (hasValue)
            return true;
        if (*i + 1 >= argc)
            return false;
        value = argv[++*i];
        return true;
    };
    const int command = options.command;
    if (name == "--help")
        return hasValue ? LongResult::Usage : LongResult::Help;
    if (name == "--version")
        return hasValue ? LongResult::Usage : LongResult::Version;
    if (name == "--verify" && command == 'w' && !hasValue) {
        options.verify = true;
        return LongResult::Taken;
    }
    if (name == "--resume" && command == 'r' && !hasValue) {
        options.resume = true;
        return LongResult::Taken;
    }
    if (name == "--retries" && command == 'r' && takeValue()) {
        // 0 to 9, written as plain digits: a typo must not become 0 retries.
        if (value.size() != 1 || value[0] < '0' || value[0] > '9')
            return LongResult::Usage;
        options.retries = value[0] - '0';
        return LongResult::Taken;
    }
    if (name == "--svg" && command == 'i' && takeValue() && !value.empty()) {
        options.svgPath = value;
        return LongResult::Taken;
    }
    return LongResult::Usage;
}

// One argument of short option letters ("-v", "-9s", "-p2", "-t" with the
// title in the next one). False for a usage exit; *i moves past what was consumed.
bool parseShort(int argc, const char* const* argv, int* i, RunOptions& options)
{
    const char* arg = argv[*i];
    bool argumentEnds = false;
    for (const char* p = arg + 1; *p && !argumentEnds; ++p) {
        const char* rest = p + 1;
        switch (lowerAscii(static_cast<unsigned char>(*p))) {
        case '1': options.speed = 19200; break;
        case '9': options.speed = 9600; break;
        case 's': options.allowFast = false; break;
        case 'v': verbose = true; break;
        case 'w': options.protect = true; break;
        case 'p':
            options.port = atoiValue(rest);
            // A device path names the port directly (POSIX: -p/dev/ttyUSB0).
            options.devicePath = rest[0] == '/' ? rest : "";
            argumentEnds = true;
            break;
        case 'd': {
            int drive = atoiValue(rest);
            if (drive != 1 && drive != 2)
                return false;
            options.drive = drive;
            argumentEnds = true;
            break;
        }
        case 'm': {
            int medium = atoiValue(rest);
            if (medium < 0 || medium > 2)
                return false;
            options.medium = d88::mediumFromOption(medium);
            argumentEnds = true;
            break;
        }
        case 't': {
            if (*i + 1 >= argc)
                return false;
            setTitle(options, argv[++*i]);
            argumentEnds = true;
            break;
        }
        default:
            return false;
        }
    }
    return true;
}

} // namespace

ParseResult parseOptions(int argc, const char* const* argv, RunOptions& options)
{
    if (argc < 2)
        return ParseResult::Usage;
    // First arguments that no command letter can be: they touch no port.
    const std::string first = argv[1];
    if (first == "-h" || first == "--help")
        return ParseResult::Help;
    if (first == "--version")
        return ParseResult::Version;
    if (first.compare(0, 2, "--") == 0)
        return ParseResult::Usage;
    if (first == "help")
        return ParseResult::Help;
    options.command = lowerAscii(static_cast<unsigned char>(argv[1][0]));

    for (int i = 2; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] == '-' && arg[1] == '-') {
            switch (parseLong(argc, argv, &i, options)) {
            case LongResult::Taken: continue;
            case LongResult::Usage: return ParseResult::Usage;
            case LongResult::Help: return ParseResult::Help;
            case LongResult::Version: return ParseResult::Version;
            }
        }
        if (arg[0] != '-') {
            // i compares two images; every other command takes one file.
            if (options.hasFileArg && options.command == 'i' && options.fileArg2.empty()) {
                options.fileArg2 = arg;
                continue;
            }
            if (options.hasFileArg)
                return ParseResult::Usage;
            options.hasFileArg = true;
            options.fileArg = arg;
            continue;
        }
        if (!parseShort(argc, argv, &i, options))
            return ParseResult::Usage;
    }

    const int c = options.command;
    if ((c == 'r' || c == 'w' || c == 'i') && !options.hasFileArg)
        return ParseResult::Usage;
    // A picture is of one image, not of a comparison.
    if (c == 'i' && !options.svgPath.empty() && !options.fileArg2.empty())
        return ParseResult::Usage;
    return ParseResult::Run;
}
