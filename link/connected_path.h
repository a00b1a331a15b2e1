#pragma once
// The connected path: every command letter but b. Connects one DiskClient,
// hands it to the command's flow and ends the run with its exit status.
struct RunOptions;
class DiskClient;

using CommandFlow = bool (*)(DiskClient& client, const RunOptions& options);

// flow is nullptr for a letter that no command serves: the usage exit is taken
// after the connection has been made.
int runConnected(const RunOptions& options, CommandFlow flow, void (*usageExit)());
