#pragma once
#include <string>

#include "core/run_options.h"

// What the command line asks for.
enum class ParseResult {
    Run,       // a command with its options
    Usage,     // the usage exit (status 1)
    Help,      // -h, --help, help: the usage text, status 0
    Version,   // --version: the banner's first line, status 0
};

// Parses the arguments after the program name (argv[1..argc-1]) into options,
// setting `verbose` on -v. Usage: no command argument, an unknown option
// letter, -d not 1 or 2, -m outside 0..2, -t without a following argument, a
// second file argument (i takes two), r/w/i without a file argument, an
// unknown long option, or a long option the command does not take.
//
// Long options ("--name" or "--name=value") are matched by name before the
// short-option loop sees an argument, so the short letters stay as they are.
//
// On a usage exit, *problem (when given) is one line naming the argument and
// what is wrong with it; empty when there is nothing to name (no arguments).
ParseResult parseOptions(int argc, const char* const* argv, RunOptions& options,
                         std::string* problem = nullptr);

// The value of the rest of an argument, read the way atoi reads a decimal
// number (leading blanks, optional sign, digits up to the first non-digit; no
// digits give 0). Saturates instead of overflowing.
int atoiValue(const char* text);

// The -t argument as title bytes: converted to CP932 (from the locale's
// charset on POSIX; as typed on Windows), NUL-padded to 17. Cut to 16 bytes:
// without splitting a double-byte character where this program converted the
// argument, the first 16 bytes as they came where it did not.
void setTitle(RunOptions& options, const char* argument);
