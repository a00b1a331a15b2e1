#include "app/options.h"

#include <climits>
#include <cstring>

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

bool parseOptions(int argc, const char* const* argv, RunOptions& options)
{
    if (argc < 2)
        return false;
    options.command = lowerAscii(static_cast<unsigned char>(argv[1][0]));

    for (int i = 2; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] != '-') {
            if (options.hasFileArg)
                return false;
            options.hasFileArg = true;
            options.fileArg = arg;
            continue;
        }
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
                options.medium = medium == 2 ? 3 : medium;
                argumentEnds = true;
                break;
            }
            case 't': {
                if (i + 1 >= argc)
                    return false;
                const char* title = argv[++i];
                size_t length = std::strlen(title);
                if (length > 16)
                    length = 16;
                std::memset(options.title, 0, sizeof options.title);
                std::memcpy(options.title, title, length);
                argumentEnds = true;
                break;
            }
            default:
                return false;
            }
        }
    }

    if ((options.command == 'r' || options.command == 'w') && !options.hasFileArg)
        return false;
    return true;
}
