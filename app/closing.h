#pragma once
// Turns a run's outcome into its closing lines and its exit status.
#include "core/outcome.h"

struct RunOptions;

// A completed operation: the summary line (r, w) and "終了しました。" (not after
// b, which has said "完了しました."), status 0. Anything else: one message on
// standard error naming the step, the cause and what to do, status 1.
int closeRun(const Outcome& outcome, const RunOptions& options);
