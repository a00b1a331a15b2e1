#pragma once
// The i command: looks inside D88 files, without a port.
#include "core/outcome.h"

struct RunOptions;

// Lists the images of a file, shows one, draws it, or compares two. It prints
// its own verdict: the outcome is completed when everything looked at is
// sound (or the same), else a failure already reported.
Outcome inspectCommand(const RunOptions& options);
