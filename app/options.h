#pragma once
#include "core/run_options.h"

// Parses the arguments after the program name (argv[1..argc-1]) into options,
// setting `verbose` on -v. False means the usage exit: no command argument, an
// unknown option letter, -d not 1 or 2, -m outside 0..2, -t without a following
// argument, a second file argument, or r/w without a file argument.
bool parseOptions(int argc, const char* const* argv, RunOptions& options);

// The value of the rest of an argument, read the way atoi reads a decimal
// number (leading blanks, optional sign, digits up to the first non-digit; no
// digits give 0). Saturates instead of overflowing.
int atoiValue(const char* text);
