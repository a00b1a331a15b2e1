#pragma once
// The outcome of one operation (a disk read, a verified or plain write, a ROM
// dump, the loader upload, i), filled where the operation ends and carried up
// unchanged to the run flow, which alone turns it into the closing lines and
// the exit status (app/closing.cpp). It says which operation ran, whether it
// completed and, if not, at which step and place, why, and on which side; the
// operation's own summary record feeds the closing summary.
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

// Why the serial port would not open, with what the user needs to put it right.
enum class OpenFault {
    None,
    BadNumber,     // port below 1
    NotFound,      // no such device
    NoPermission,  // the device exists, the user may not open it
    InUse,         // another program holds it
    Refused,       // the system refused to open it for another reason
    BadSettings,   // it opened, but refused the line settings
};

// Which operation the outcome is of. A verified write runs three: the write,
// the read-back (and the read-back of rewritten tracks), the rewrite.
enum class Operation {
    None,            // before any operation began (the port, the hello)
    Read,            // r
    Write,           // w: writing every track
    VerifyReadBack,  // w --verify: reading the floppy back and comparing
    VerifyRewrite,   // w --verify: writing the differing tracks again
    RomDump,         // s
    Upload,          // b
    Inspect,         // i
    Convert,         // an image converted to another format
};

// r: what went into the image.
struct ReadSummary {
    int formattedTracks = 0;
    int unformattedTracks = 0;
    int sectors = 0;
    int idCrcErrors = 0;
    int dataCrcErrors = 0;
    int missingAddressMarks = 0;
    int deletedSectors = 0;
    int retriedTracks = 0;     // tracks that needed more than one reply
    bool retriesAsked = false; // --retries was given: the count is shown
    int resumedTracks = 0;     // tracks kept from an interrupted read
    uint32_t imageBytes = 0;
    bool imageStarted = false; // the image's header is in the file (provisional or resumed)
    std::string file;          // the D88 file
    int imageIndex = 0;        // the N of file;N
};

// w --verify: how the read-back went.
struct VerifySummary {
    bool verified = false;     // ran to the end
    int tracksVerified = 0;
    int tracksRewritten = 0;
    int tracksDiffering = 0;   // still different after the rewrite
    int tracksUnverifiable = 0; // formatted without a usable sector: nothing reads back
    int sectorsLeftOut = 0;    // beyond the track load's data budget: not written whole
    int extraSectors = 0;      // on the floppy, not in the image (not a failure)
};

// w: what went onto the floppy.
struct WriteSummary {
    int tracksWritten = 0;
    uint64_t wireBytes = 0;    // bytes put on the line by the whole run
    VerifySummary verify;
};

// s: the banks received.
struct RomSummary {
    int banks = 0;
};

struct Outcome {
    Operation operation = Operation::None;
    bool completed = false;
    Step step = Step::None;
    int where = -1;             // the place: track or bank of the step, -1 when none
    Cause cause = Cause::None;
    int linkCode = 0;           // the link code behind a line or agent cause
    int systemError = 0;        // errno / GetLastError behind a file or port cause
    int mediumAnswer = -1;      // the agent's medium answer behind a disk cause
                                // (DiskError: its code; OtherMedium: the medium found)
    OpenFault portFault = OpenFault::None; // behind PortUnusable
    std::string file;           // the path: the file of a file cause, the port device
    int lastDone = -1;          // last track (or bank) completed, for an interruption
    bool endSent = false;       // the agent got its end command after the failure
    bool reported = false;      // the operation has printed its own verdict (i)
    bool romNotSaved = false;   // s: the ROM in `file` was left out; an earlier file stays
    int notACommand = 0;        // the letter no command serves: the connection was only a check
    std::vector<std::string> notes;   // lines the closing prints after its message
    // The operation's summary: the one its operation fills.
    ReadSummary read;
    WriteSummary write;
    RomSummary rom;

    Side side() const;

    static Outcome done(Operation operation = Operation::None);
    static Outcome done(const ReadSummary& summary);
    static Outcome done(const WriteSummary& summary);
    static Outcome done(const RomSummary& summary);
    static Outcome failed(Step step, Cause cause, int where = -1);
    // The same outcome as having happened in `op`.
    Outcome& in(Operation op)
    {
        operation = op;
        return *this;
    }
};
