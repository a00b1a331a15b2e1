#pragma once

// One run from the command line to the exit status.
int runFerry(int argc, const char* const* argv);
