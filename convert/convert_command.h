#pragma once
// c: converts one disk image between D88, HFE, IMD and raw, with no port.
struct RunOptions;

// Returns the exit status: 0 converted, 1 with a message on stderr.
int convertCommand(const RunOptions& options);
