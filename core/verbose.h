#pragma once
// Set by -v while the command line is parsed, never changed afterwards.
extern bool verbose;
