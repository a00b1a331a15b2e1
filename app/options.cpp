#include "app/options.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include <string>

#include "core/console.h"
#include "core/i18n.h"
#include "image/d88.h"
#include "image/image_format.h"
#include "image/raw_image.h"
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

// The one line a usage exit prints before the usage text: the argument, then
// what is wrong with it.
std::string problemText(const char* format, const std::string& argument)
{
    char text[512];
    std::snprintf(text, sizeof text, format, argument.c_str());
    return text;
}

bool isDigits(const std::string& s)
{
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

// The value of a long option that takes one, checked and stored.
LongResult setLongValue(const std::string& name, const std::string& value, RunOptions& options,
                        std::string* problem)
{
    const std::string shown = name + " " + value;
    if (name == "--retries") {
        // 0 to 9, written as plain digits: a typo must not become 0 retries.
        if (value.size() != 1 || value[0] < '0' || value[0] > '9') {
            *problem = problemText(tr("%s: 読み直す回数は 0 から 9 で指定してください."), shown);
            return LongResult::Usage;
        }
        options.retries = value[0] - '0';
        return LongResult::Taken;
    }
    if (name == "--image") {
        if (!isDigits(value) || value.size() > 4 || std::stoi(value) < 1) {
            *problem = problemText(tr("%s: イメージの番号は 1 以上の数で指定してください."), shown);
            return LongResult::Usage;
        }
        options.imageIndex = std::stoi(value);
        return LongResult::Taken;
    }
    if (name == "--from" || name == "--to") {
        if (formatFromName(value) == ImageFormat::Unknown) {
            *problem = problemText(tr("%s: 形式は d88, hfe, imd, raw のどれかで指定してください."), shown);
            return LongResult::Usage;
        }
        (name == "--from" ? options.fromFormat : options.toFormat) = value;
        return LongResult::Taken;
    }
    if (name == "--geometry") {
        RawGeometry geometry;
        if (!parseGeometry(value, &geometry)) {
            *problem = problemText(
                tr("%s: シリンダ数, ヘッド数, セクタ数, N を C,H,S,N の形で指定してください."), shown);
            return LongResult::Usage;
        }
        options.geometry = value;
        return LongResult::Taken;
    }
    if (value.empty()) {
        *problem = problemText(tr("%s: 値がありません."), name);
        return LongResult::Usage;
    }
    options.svgPath = value;
    return LongResult::Taken;
}

// One "--name" or "--name=value" argument; a value may also be the next
// argument. *i moves past what was consumed.
LongResult parseLong(int argc, const char* const* argv, int* i, RunOptions& options,
                     std::string* problem)
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
    auto refuse = [&](const char* format) {
        *problem = problemText(format, hasValue ? name + "=" + value : name);
        return LongResult::Usage;
    };
    if (name == "--help")
        return hasValue ? refuse(tr("%s: このオプションに値は付けられません.")) : LongResult::Help;
    if (name == "--version")
        return hasValue ? refuse(tr("%s: このオプションに値は付けられません."))
                        : LongResult::Version;
    // A long option of another command is named as such, not as unknown.
    struct Owner {
        const char* name;
        int command;
        bool takesValue;
    };
    static const Owner kOwners[] = {{"--verify", 'w', false}, {"--resume", 'r', false},
                                    {"--retries", 'r', true},  {"--svg", 'i', true},
                                    {"--image", 0, true},      {"--from", 'c', true},
                                    {"--to", 'c', true},       {"--lossy", 'c', false},
                                    {"--geometry", 'c', true}};
    const Owner* owner = nullptr;
    for (const Owner& o : kOwners)
        if (name == o.name)
            owner = &o;
    if (owner == nullptr)
        return refuse(tr("%s: そのようなオプションはありません."));
    const bool imageCommand = command == 'w' || command == 'i' || command == 'c';
    if ((owner->command != 0 && owner->command != command) ||
        (owner->command == 0 && !imageCommand)) {
        *problem = problemText(owner->command == 'w'   ? tr("%s は w だけのオプションです.")
                               : owner->command == 'r' ? tr("%s は r だけのオプションです.")
                               : owner->command == 'i' ? tr("%s は i だけのオプションです.")
                               : owner->command == 'c' ? tr("%s は c だけのオプションです.")
                                                       : tr("%s は w, i と c だけのオプションです."),
                               name);
        return LongResult::Usage;
    }
    if (!owner->takesValue) {
        if (hasValue)
            return refuse(tr("%s: このオプションに値は付けられません."));
        (name == "--verify" ? options.verify : name == "--lossy" ? options.lossy : options.resume) =
            true;
        return LongResult::Taken;
    }
    if (!takeValue()) {
        *problem = problemText(tr("%s: 値がありません."), name);
        return LongResult::Usage;
    }
    return setLongValue(name, value, options, problem);
}

// One argument of short option letters ("-v", "-9s", "-p2", "-t" with the
// title in the next one). False for a usage exit, with *problem naming the
// argument; *i moves past what was consumed.
bool parseShort(int argc, const char* const* argv, int* i, RunOptions& options,
                std::string* problem)
{
    const char* arg = argv[*i];
    auto usage = [&](const char* format, const std::string& argument) {
        *problem = problemText(format, argument);
        return false;
    };
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
            // A device path names the port directly (POSIX: -p/dev/ttyUSB0);
            // it must follow -p in the same argument.
            // Another value that is no number opens port 0, which the
            // port step refuses with the same advice.
            if (rest[0] == '\0' && *i + 1 < argc && argv[*i + 1][0] == '/')
                return usage(tr("%s: デバイスのパスは -p に空白を入れずに続けてください "
                                "(-p/dev/ttyUSB0)."),
                             std::string(arg) + " " + argv[*i + 1]);
            options.port = atoiValue(rest);
            options.devicePath = rest[0] == '/' ? rest : "";
            argumentEnds = true;
            break;
        case 'd': {
            int drive = atoiValue(rest);
            if (drive != 1 && drive != 2)
                return usage(tr("%s: ドライブ番号は 1 か 2 です."), arg);
            options.drive = drive;
            argumentEnds = true;
            break;
        }
        case 'm': {
            int medium = atoiValue(rest);
            if (medium < 0 || medium > 2)
                return usage(tr("%s: メディアは 0 (2D), 1 (2DD), 2 (2HD) のどれかです."), arg);
            options.medium = d88::mediumFromOption(medium);
            argumentEnds = true;
            break;
        }
        case 't': {
            if (*i + 1 >= argc)
                return usage(tr("%s: タイトルがありません (-t \"title\")."), arg);
            setTitle(options, argv[++*i]);
            argumentEnds = true;
            break;
        }
        default:
            return usage(tr("%s: そのようなオプションはありません."),
                         std::string(arg) + (p == arg + 1 ? "" : " (" + std::string(1, *p) + ")"));
        }
    }
    return true;
}

} // namespace

ParseResult parseOptions(int argc, const char* const* argv, RunOptions& options,
                         std::string* problem)
{
    std::string ignored;
    if (problem == nullptr)
        problem = &ignored;
    problem->clear();
    auto usage = [&](const char* format, const std::string& argument) {
        *problem = problemText(format, argument);
        return ParseResult::Usage;
    };
    if (argc < 2)
        return ParseResult::Usage;
    // First arguments that no command letter can be: they touch no port.
    const std::string first = argv[1];
    if (first == "-h" || first == "--help")
        return ParseResult::Help;
    if (first == "--version")
        return ParseResult::Version;
    if (first.compare(0, 2, "--") == 0)
        return usage(tr("%s: 最初の引数にはコマンド (b, s, r, w, i) を指定してください."), first);
    if (first == "help")
        return ParseResult::Help;
    options.command = lowerAscii(static_cast<unsigned char>(argv[1][0]));

    for (int i = 2; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] == '-' && arg[1] == '-') {
            switch (parseLong(argc, argv, &i, options, problem)) {
            case LongResult::Taken: continue;
            case LongResult::Usage: return ParseResult::Usage;
            case LongResult::Help: return ParseResult::Help;
            case LongResult::Version: return ParseResult::Version;
            }
        }
        if (arg[0] != '-') {
            // i compares two images and c converts IN to OUT; every other
            // command takes one file.
            if (options.hasFileArg && (options.command == 'i' || options.command == 'c') &&
                options.fileArg2.empty()) {
                options.fileArg2 = arg;
                continue;
            }
            if (options.hasFileArg)
                return usage(options.command == 'i'
                                 ? tr("%s: i に指定できるファイルは 2 つまでです.")
                                 : tr("%s: ファイルは 1 つだけ指定してください."),
                             arg);
            options.hasFileArg = true;
            options.fileArg = arg;
            continue;
        }
        if (!parseShort(argc, argv, &i, options, problem))
            return ParseResult::Usage;
    }

    const int c = options.command;
    if ((c == 'r' || c == 'w' || c == 'i') && !options.hasFileArg)
        return usage(tr("%s: ディスクイメージのファイルを指定してください."), argv[1]);
    if (c == 'c' && options.fileArg2.empty())
        return usage(tr("%s: 変換元と変換先のファイルを指定してください."), argv[1]);
    // A picture is of one image, not of a comparison.
    if (c == 'i' && !options.svgPath.empty() && !options.fileArg2.empty())
        return usage(tr("%s: 図は 1 つのイメージについてだけ書き出せます (比較とは一緒に使えません)."),
                     "--svg");
    if (options.imageIndex > 0) {
        if (c == 'i' && !options.fileArg2.empty())
            return usage(tr("%s: 比較ではイメージの番号を file;N で指定してください."), "--image");
        if (options.fileArg.find(';') != std::string::npos)
            return usage(tr("%s: --image と ;N は一緒に使えません. どちらか一方で指定してください."),
                         options.fileArg);
    }
    return ParseResult::Run;
}
