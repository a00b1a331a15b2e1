#pragma once
// The outcome of one operation (readDisk, writeDisk, dumpRoms, uploadLoader),
// carried up to the run flow, which alone turns it into the closing lines and
// the exit status. It says whether the operation completed and, if not, at
// which step, why, and on which side; the counts feed the closing summary.
#include <cstdint>
#include <string>
#include <vector>

// Where an operation stopped.
enum class Step {
    None,
    Port,          // opening the serial port
    Connect,       // the hello and the capability record
    MediumQuery,   // drive and medium selection, the disk prompts
    Begin,         // the begin-reading command
    ReadTrack,     // where = track
    WriteTrack,    // where = track
    VerifyTrack,   // where = track: reading back after a write
    RomBank,       // where = bank number
    ImageOpen,     // the image file could not be opened or selected
    ImageRead,     // reading the image file (a damaged image: where = track)
    ImageWrite,    // writing the image file
    RomFile,       // creating or writing a ROM file (file names it)
    LoaderFile,    // ferry2.bas missing, empty or unreadable
    Upload,        // sending the loader
    End,           // the end command
};

// Why it stopped.
enum class Cause {
    None,
    // The line (link codes -2, -5 and the port).
    PortUnusable,     // the port could not be opened or configured
    NoAnswer,         // time-out: the agent said nothing
    HungUp,           // the line went away
    LineError,        // the system refused a read or a write
    Corrupted,        // three bad CRCs, or characters outside the code
    // The agent (link codes -3, -4, -6).
    Refused,          // acknowledged with 0, three times
    BadSequence,      // a reply for another command
    BadReply,         // a reply that cannot be decoded (short, unsupported method)
    VersionMismatch,
    // The disk.
    UnknownMedium,    // medium answer 255
    DiskError,        // another medium answer (code in `answer`)
    WriteProtected,   // medium answer 249
    Not2D,            // a 2D-only machine asked for 2DD/2HD
    OtherDisk,        // --resume: track 0 differs from the interrupted read's
    OtherMedium,      // --resume: the medium differs from the interrupted read's
    // The image file.
    FileError,        // the system refused (systemError)
    DamagedImage,     // the structure check failed (where = track, or -1)
    NoImage,          // no image at that index
    NotResumable,     // --resume: the interrupted image has no usable progress record
    FolderMissing,    // the folder the image file is to go in does not exist
    // The user.
    Interrupted,      // Ctrl-C
    NoKey,            // standard input ended at a disk prompt
    // The floppy after a verified write.
    VerifyMismatch,
};

enum class Side { None, Line, Agent, Disk, ImageFile, User };

// Counts of a run, for the closing summary.
struct Summary {
    // r
    int formattedTracks = 0;
    int unformattedTracks = 0;
    int sectors = 0;
    int idCrcErrors = 0;
    int dataCrcErrors = 0;
    int missingAddressMarks = 0;
    int deletedSectors = 0;
    int retriedTracks = 0;     // tracks that needed more than one reply
    int resumedTracks = 0;     // tracks kept from an interrupted read
    uint32_t imageBytes = 0;
    int imageIndex = 0;        // the N of file;N
    // w
    int tracksWritten = 0;
    uint64_t wireBytes = 0;    // bytes put on the line by the whole run
    bool verified = false;     // --verify ran to the end
    int tracksVerified = 0;
    int tracksRewritten = 0;
    int tracksDiffering = 0;   // still different after the rewrite
    int tracksUnverifiable = 0; // formatted without a usable sector: nothing reads back
    int sectorsLeftOut = 0;    // beyond the track load's data budget: not written whole
    int extraSectors = 0;      // on the floppy, not in the image (not a failure)
    // s
    int banks = 0;
};

struct Outcome {
    bool completed = false;
    Step step = Step::None;
    int where = -1;             // track or bank of the step, -1 when none
    Cause cause = Cause::None;
    int linkCode = 0;           // the link code behind a line or agent cause
    int systemError = 0;        // errno / GetLastError behind a file or port cause
    int detail = -1;            // the medium answer behind a disk cause; the port's
                                // OpenFault behind PortUnusable
    std::string file;           // the file of a file cause
    int lastDone = -1;          // last track (or bank) completed, for an interruption
    bool endSent = false;       // the agent got its end command after the failure
    bool romNotSaved = false;   // s: the ROM in `file` was left out; an earlier file stays
    std::vector<std::string> notes;   // lines the closing prints after its message
    Summary summary;

    Side side() const;

    static Outcome done(const Summary& summary = Summary());
    static Outcome failed(Step step, Cause cause, int where = -1);
};
