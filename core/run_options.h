#pragma once
#include <string>

// The settings of one run, all set from the command line before a port opens.
struct RunOptions {
    int command = 0;           // lower-case first character of the first argument
    int port = 1;              // -p#
    std::string devicePath;    // -p/dev/...: a device path in place of the number (POSIX)
    int speed = 19200;         // -1 / -9
    static constexpr int kDriveNotGiven = -1;
    int drive = kDriveNotGiven;   // -d#: 1 or 2
    int medium = -1;           // -m#: medium code 0, 1 or 3; -1 (d88::kMediumNotGiven)
    bool allowFast = true;     // -s clears it
    bool protect = false;      // -w
    // -t "title": CP932 bytes, at most 16, NUL-padded; byte 16 stays NUL.
    char title[17] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                      ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', 0};
    bool hasFileArg = false;
    std::string fileArg;       // the one argument not starting with "-"
    std::string fileArg2;      // i: the second image of a comparison; c: the output file

    // Long options.
    bool verify = false;       // w --verify: read the floppy back and compare
    bool resume = false;       // r --resume: continue an interrupted read
    int retries = 0;           // r --retries N: re-read a track with errors up to N times
    std::string svgPath;       // i --svg FILE: a picture of the image
    std::string fromFormat;    // c --from F: the input's format, not its extension's
    std::string toFormat;      // c --to F: the output's format
    bool lossy = false;        // c --lossy: leave out tracks the output cannot hold
    std::string geometry;      // c --geometry C,H,S,N: a raw input's geometry
    int imageIndex = 0;        // w, i, c --image N: the image of the file, from 1; 0 without it

    // The drive index the disk commands send: 0 or 1, and -2 (0xFE on the
    // wire, "any drive") without -d.
    int driveIndex() const { return drive - 1; }

    // The device path when one was given, else nullptr; handed to sio::open.
    const char* path() const { return devicePath.empty() ? nullptr : devicePath.c_str(); }
};
