#include "sim/sim_options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace sim {

namespace {

bool parseInt(const std::string& text, long low, long high, long* out)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v < low || v > high)
        return false;
    *out = v;
    return true;
}

bool parseSeconds(const std::string& text, int* ms)
{
    errno = 0;
    char* end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    if (text.empty() || errno != 0 || *end != '\0' || !(v >= 0) || v > 86400.0 * 30)
        return false;
    *ms = int(v * 1000 + 0.5);
    return true;
}

// "2.06": major, a dot, the minor number in two (or three) digits.
bool parseVersion(const std::string& text, int* major, int* minor)
{
    size_t dot = text.find('.');
    if (dot == std::string::npos || dot == 0)
        return false;
    std::string left = text.substr(0, dot), right = text.substr(dot + 1);
    if (right.size() < 2 || right.size() > 3)
        return false;
    for (char c : left + right) {
        if (c < '0' || c > '9')
            return false;
    }
    long a = std::strtol(left.c_str(), nullptr, 10), b = std::strtol(right.c_str(), nullptr, 10);
    if (a > 255 || b > 255)
        return false;
    *major = int(a);
    *minor = int(b);
    return true;
}

bool parseMedium(const std::string& text, int* medium)
{
    if (text == "2D" || text == "2d")
        *medium = 0;
    else if (text == "2DD" || text == "2dd")
        *medium = 1;
    else if (text == "2HD" || text == "2hd")
        *medium = 3;
    else
        return false;
    return true;
}

// "disk.d88;2": the file name before the first ";", the image index from the
// next non-empty field (1 without one), as the client reads its own argument.
bool parseImage(const std::string& text, std::string* path, int* index)
{
    size_t semi = text.find(';');
    *path = text.substr(0, semi);
    *index = 1;
    if (path->empty())
        return false;
    if (semi == std::string::npos)
        return true;
    size_t start = text.find_first_not_of(';', semi);
    if (start == std::string::npos)
        return true;
    size_t end = text.find(';', start);
    long v;
    if (!parseInt(text.substr(start, end - start), 0, 99999, &v))
        return false;
    *index = v < 1 ? 1 : int(v);
    return true;
}

bool parseReplies(const std::string& text, ReplyMode* mode)
{
    static const struct {
        const char* name;
        ReplyMode mode;
    } kModes[] = {{"auto", ReplyMode::Auto},     {"plain", ReplyMode::Plain},
                  {"hash", ReplyMode::Hash},     {"stored", ReplyMode::Stored},
                  {"rle", ReplyMode::RunLength}};
    for (const auto& m : kModes) {
        if (text == m.name) {
            *mode = m.mode;
            return true;
        }
    }
    return false;
}

} // namespace

const char* simUsage()
{
    return "usage: ferry88sim [options]\n"
           "  Serves the ferry2 client as a simulated PC-8801 agent on a pseudo-terminal;\n"
           "  the first line on standard output is the slave device to give ferry2 as -p.\n"
           "port and sessions:\n"
           "  --port-file FILE      also write the slave path to FILE\n"
           "  --sessions N          serve N clients, then exit (default 1; 0: until stopped)\n"
           "  --idle SECONDS        silence that ends a session (default 60)\n"
           "  --max-time SECONDS    give up after this long in all (exit status 3)\n"
           "  --baud RATE           pace the line both ways at the client's port speed (RATE\n"
           "                        when unknown)\n"
           "capabilities:\n"
           "  --version M.NN        agent version (default 2.06); alone, see below\n"
           "  --no-hd               a 2D-only machine\n"
           "  --roms BITMAP         optional ROMs: 1 kanji1, 2 kanji2, 4 dictionary, 8 CD\n"
           "                        (default 0)\n"
           "  --fixed-rate          serial port without double speed\n"
           "drives:\n"
           "  --drive1 IMAGE[;N]    D88 image (its N-th image) in drive 1; --drive2 likewise\n"
           "  --blank1 2D|2DD|2HD   an unformatted disk in drive 1; --blank2 likewise\n"
           "  --sample              the built-in sample disk in drive 1\n"
           "  --save FILE           write drive 1 as D88 on exit; --save2 FILE for drive 2\n"
           "  --rom-dir DIR         ROM files (n88.rom, ...); banks without a file get a pattern\n"
           "  --info FILE           describe a D88 file and exit\n"
           "medium answers:\n"
           "  --no-disk-until K     answer 'no disk' to the first K medium queries\n"
           "  --unknown-medium      answer 255 to medium queries\n"
           "  --disk-error CODE     answer CODE to medium queries\n"
           "  --write-protect       answer 249 to medium queries for writing\n"
           "faults (track T: 2 * cylinder + head; options may be repeated):\n"
           "  --refuse K            refuse the K-th command (counting every attempt from 1)\n"
           "  --refuse-count C      refuse C commands from the K-th (default 1)\n"
           "  --silent-after K      answer nothing after K received packets\n"
           "  --hangup-after K      hang up the line at once on packet K + 1, then exit\n"
           "  --mute-after K        acknowledge packet K + 1 if it is a command, then send\n"
           "                        nothing more\n"
           "  --hangup-at-track T   hang up when the read-track command that would deliver track\n"
           "                        T arrives, before its acknowledgement\n"
           "  --silent-at-track T   acknowledge that command, then send nothing\n"
           "  --flaky-write T[:K]   the first K writes of track T (default 1) store its first\n"
           "                        sector with every data byte inverted\n"
           "  --bad-sector T:R      sector R of track T always reads with a data CRC error and\n"
           "                        inverted data\n"
           "  --weak-sector T:R[:K] the same on the first K reads of track T (default 1), then\n"
           "                        correctly\n"
           "  --bad-crc K           corrupt the CRC of the K-th packet sent\n"
           "  --bad-crc-count C     corrupt C packets in a row from the K-th (default 1)\n"
           "  --bad-seq K           send the K-th packet with a wrong sequence number\n"
           "  --noise               junk bytes between packets\n"
           "  --replies MODE        auto, plain (%), hash (#), stored ($ method 0),\n"
           "                        rle ($ method 1)\n"
           "log:\n"
           "  --log FILE            JSON lines: packets received and events\n"
           "  -v, --verbose         log lines also to standard error\n"
           "  -h, --help            print this text and exit\n"
           "  --version             (without M.NN) print ferry88sim's version and exit\n";
}

namespace {

// Numbers in decimal or 0x hex, within [low, high].
template <typename T>
bool setNumber(const std::string& text, long low, long high, T* out)
{
    long v = 0;
    if (!parseInt(text, low, high, &v))
        return false;
    *out = static_cast<T>(v);
    return true;
}

// An option: its name, whether it takes a value, and how that value (empty
// for a switch) goes into the options. False: a bad value.
struct OptionRow {
    const char* name;
    bool takesValue;
    bool (*apply)(const std::string& value, SimOptions* o);
};

constexpr long kLastTrack = 163;

bool addTrack(const std::string& text, std::vector<int>* tracks)
{
    long t = 0;
    if (!parseInt(text, 0, kLastTrack, &t))
        return false;
    tracks->push_back(int(t));
    return true;
}

// "T", "T:K", "T:R" or "T:R:K" as the fault's kind takes them.
bool addMediumFault(const std::string& text, MediumFault::Kind kind, SimOptions* o)
{
    std::vector<std::string> fields;
    for (size_t start = 0;;) {
        const size_t colon = text.find(':', start);
        fields.push_back(text.substr(start, colon - start));
        if (colon == std::string::npos)
            break;
        start = colon + 1;
    }
    const bool hasSector = kind != MediumFault::Kind::FlakyWrite;
    const bool hasCount = kind != MediumFault::Kind::BadSector;
    const size_t required = hasSector ? 2 : 1;
    if (fields.size() < required || fields.size() > required + (hasCount ? 1 : 0))
        return false;
    MediumFault f;
    f.kind = kind;
    long v = 0;
    if (!parseInt(fields[0], 0, kLastTrack, &v))
        return false;
    f.track = int(v);
    if (hasSector) {
        if (!parseInt(fields[1], 0, 255, &v))
            return false;
        f.sector = int(v);
    }
    if (fields.size() > required) {
        if (!parseInt(fields[required], 1, 1000000000, &v))
            return false;
        f.count = int(v);
    }
    o->mediumFaults.push_back(f);
    return true;
}

using V = const std::string&;
using Fault = MediumFault::Kind;

const OptionRow kOptions[] = {
    {"--port-file", true, [](V v, SimOptions* o) { o->portFile = v; return true; }},
    {"--sessions", true,
     [](V v, SimOptions* o) { return setNumber(v, 0, 1000000, &o->sessions); }},
    {"--idle", true,
     [](V v, SimOptions* o) { return parseSeconds(v, &o->idleMs) && o->idleMs > 0; }},
    {"--max-time", true, [](V v, SimOptions* o) { return parseSeconds(v, &o->maxMs); }},
    {"--baud", true, [](V v, SimOptions* o) { return setNumber(v, 50, 4000000, &o->baud); }},
    {"--version", true,
     [](V v, SimOptions* o) { return parseVersion(v, &o->agentMajor, &o->agentMinor); }},
    {"--no-hd", false, [](V, SimOptions* o) { o->hasHdDrive = false; return true; }},
    {"--roms", true, [](V v, SimOptions* o) { return setNumber(v, 0, 255, &o->romBitmap); }},
    {"--fixed-rate", false, [](V, SimOptions* o) { o->variableRate = false; return true; }},
    {"--drive1", true,
     [](V v, SimOptions* o) { return parseImage(v, &o->image[0], &o->imageIndex[0]); }},
    {"--drive2", true,
     [](V v, SimOptions* o) { return parseImage(v, &o->image[1], &o->imageIndex[1]); }},
    {"--blank1", true, [](V v, SimOptions* o) { return parseMedium(v, &o->blank[0]); }},
    {"--blank2", true, [](V v, SimOptions* o) { return parseMedium(v, &o->blank[1]); }},
    {"--sample", false, [](V, SimOptions* o) { o->sample = true; return true; }},
    {"--save", true, [](V v, SimOptions* o) { o->save[0] = v; return true; }},
    {"--save2", true, [](V v, SimOptions* o) { o->save[1] = v; return true; }},
    {"--rom-dir", true, [](V v, SimOptions* o) { o->romDir = v; return true; }},
    {"--info", true, [](V v, SimOptions* o) { o->info = v; return true; }},
    {"--no-disk-until", true,
     [](V v, SimOptions* o) { return setNumber(v, 0, 1000000, &o->noDiskUntil); }},
    {"--unknown-medium", false, [](V, SimOptions* o) { o->unknownMedium = true; return true; }},
    {"--disk-error", true, [](V v, SimOptions* o) { return setNumber(v, 0, 255, &o->diskError); }},
    {"--write-protect", false, [](V, SimOptions* o) { o->writeProtect = true; return true; }},
    {"--refuse", true, [](V v, SimOptions* o) { return setNumber(v, 1, 1000000000, &o->refuse); }},
    {"--refuse-count", true,
     [](V v, SimOptions* o) { return setNumber(v, 1, 1000000000, &o->refuseCount); }},
    {"--silent-after", true,
     [](V v, SimOptions* o) { return setNumber(v, 0, 1000000000, &o->silentAfter); }},
    {"--hangup-after", true,
     [](V v, SimOptions* o) { return setNumber(v, 0, 1000000000, &o->hangupAfter); }},
    {"--mute-after", true,
     [](V v, SimOptions* o) { return setNumber(v, 0, 1000000000, &o->muteAfter); }},
    {"--hangup-at-track", true, [](V v, SimOptions* o) { return addTrack(v, &o->hangupAtTrack); }},
    {"--silent-at-track", true, [](V v, SimOptions* o) { return addTrack(v, &o->silentAtTrack); }},
    {"--flaky-write", true,
     [](V v, SimOptions* o) { return addMediumFault(v, Fault::FlakyWrite, o); }},
    {"--bad-sector", true,
     [](V v, SimOptions* o) { return addMediumFault(v, Fault::BadSector, o); }},
    {"--weak-sector", true,
     [](V v, SimOptions* o) { return addMediumFault(v, Fault::WeakSector, o); }},
    {"--bad-crc", true, [](V v, SimOptions* o) { return setNumber(v, 1, 1000000000, &o->badCrc); }},
    {"--bad-crc-count", true,
     [](V v, SimOptions* o) { return setNumber(v, 1, 1000000000, &o->badCrcCount); }},
    {"--bad-seq", true, [](V v, SimOptions* o) { return setNumber(v, 1, 1000000000, &o->badSeq); }},
    {"--noise", false, [](V, SimOptions* o) { o->noise = true; return true; }},
    {"--replies", true, [](V v, SimOptions* o) { return parseReplies(v, &o->replies); }},
    {"--log", true, [](V v, SimOptions* o) { o->logPath = v; return true; }},
    {"--verbose", false, [](V, SimOptions* o) { o->verbose = true; return true; }},
    {"-v", false, [](V, SimOptions* o) { o->verbose = true; return true; }},
    {"--help", false, [](V, SimOptions* o) { o->help = true; return true; }},
    {"-h", false, [](V, SimOptions* o) { o->help = true; return true; }},
};

const OptionRow* findOption(const std::string& name)
{
    for (const OptionRow& option : kOptions) {
        if (name == option.name)
            return &option;
    }
    return nullptr;
}

} // namespace

bool parseSimOptions(int argc, const char* const* argv, SimOptions* o, std::string* error)
{
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool valueGiven = false;
        const size_t eq = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            valueGiven = true;
        }
        // --version takes the agent's version; without one (last, or before
        // another option) it asks for ferry88sim's own.
        if (arg == "--version" && !valueGiven && (i + 1 >= argc || argv[i + 1][0] == '-')) {
            o->showVersion = true;
            continue;
        }
        const OptionRow* option = findOption(arg);
        if (!option)
            return fail("unknown option " + arg);
        if (!option->takesValue && valueGiven)
            return fail(arg + " takes no value");
        if (option->takesValue && !valueGiven) {
            if (i + 1 >= argc)
                return fail(arg + " needs a value");
            value = argv[++i];
        }
        if (option->takesValue && value.empty())
            return fail(arg + " needs a value");
        if (!option->apply(value, o))
            return fail("bad value for " + arg + ": " + value);
    }
    if (o->help || o->showVersion)
        return true;

    int loaded1 = !o->image[0].empty() + (o->blank[0] >= 0) + o->sample;
    if (loaded1 > 1)
        return fail("drive 1 can hold only one of --drive1, --blank1, --sample");
    if (!o->image[1].empty() && o->blank[1] >= 0)
        return fail("drive 2 can hold only one of --drive2, --blank2");
    return true;
}

} // namespace sim
