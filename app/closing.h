#pragma once
// Turns a run's outcome into its closing lines and its exit status.
#include "core/outcome.h"

// A completed operation: its summary line (read, write) and "終了しました。"
// (not after the upload, which has said "完了しました.", nor after i, which
// gives its own verdict), status 0. Anything else: one message on standard
// error naming the step, the cause and what to do, status 1. Only the outcome
// decides: no command letter, no option.
int closeRun(const Outcome& outcome);
