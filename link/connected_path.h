#pragma once
// The connected path: every command letter but b. Connects one DiskClient,
// hands it to the command's flow and returns the flow's outcome; the run flow
// turns it into the closing lines and the exit status.
#include "core/outcome.h"

struct RunOptions;
class DiskClient;

using CommandFlow = Outcome (*)(DiskClient& client, const RunOptions& options);

// flow is nullptr for a letter that no command serves: the usage exit is taken
// after the connection has been made.
Outcome runConnected(const RunOptions& options, CommandFlow flow, void (*usageExit)());
