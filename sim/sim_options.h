#pragma once
// ferry88sim's command line.
#include <string>
#include <vector>

namespace sim {

// How replies are framed.
enum class ReplyMode {
    Auto,     // "$" run-length when shorter than the payload, "%" otherwise
    Plain,    // always "%"
    Hash,     // always "#"
    Stored,   // always "$" with method 0
    RunLength // always "$" with method 1 (payloads below 16384 bytes)
};

// A fault of the disk itself. Tracks are D88 track indexes (2 * cylinder + head).
struct MediumFault {
    enum class Kind {
        FlakyWrite,   // the first `count` writes of the track store its first sector spoiled
        BadSector,    // sector R always reads back with a data CRC error
        WeakSector,   // sector R reads back with a data CRC error on the first `count` reads
    };
    Kind kind = Kind::BadSector;
    int track = 0;
    int sector = 0;   // R; not used by FlakyWrite
    int count = 1;    // not used by BadSector
};

struct SimOptions {
    // Port and sessions.
    std::string portFile;
    int sessions = 1;                // 0: until stopped
    int idleMs = 60000;              // silence that ends a session
    int maxMs = 0;                   // whole-run limit, 0: none
    unsigned baud = 0;               // pace the line both ways (fallback rate), 0: off

    // Capability record.
    int agentMajor = 2;
    int agentMinor = 6;
    bool hasHdDrive = true;
    int romBitmap = 0x00;
    bool variableRate = true;

    // Drives: an image (with its index in a multi-image file), a blank disk
    // (medium code), or nothing.
    std::string image[2];
    int imageIndex[2] = {1, 1};
    int blank[2] = {-1, -1};
    bool sample = false;
    std::string save[2];
    std::string romDir;
    std::string info;

    // Medium answers.
    int noDiskUntil = 0;
    bool unknownMedium = false;
    int diskError = -1;
    bool writeProtect = false;

    // Fault injection (1-based counts, 0: off).
    int refuse = 0;
    int refuseCount = 1;
    int silentAfter = -1;            // -1: off; 0 answers nothing
    int hangupAfter = -1;            // -1: off; exit at once on the next packet
    int muteAfter = -1;              // -1: off; acknowledge packet K + 1, then nothing
    std::vector<int> hangupAtTrack;  // hang up at the read-track command that would deliver it
    std::vector<int> silentAtTrack;  // acknowledge that command, then answer nothing
    std::vector<MediumFault> mediumFaults;
    int badCrc = 0;
    int badCrcCount = 1;             // packets in a row from the badCrc-th
    int badSeq = 0;
    bool noise = false;
    ReplyMode replies = ReplyMode::Auto;

    std::string logPath;
    bool verbose = false;

    // Print the usage text or the version and exit.
    bool help = false;
    bool showVersion = false;
};

// Parses argv[1..]; false with a reason in *error on a bad option.
bool parseSimOptions(int argc, const char* const* argv, SimOptions* options, std::string* error);

const char* simUsage();

} // namespace sim
