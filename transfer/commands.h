#pragma once
// The command flows that the connected path hands a connected client to.
// Each returns true when it ran (the run ends with status 0) and false when
// the run ends with status 1 (its message already printed).
struct RunOptions;
class DiskClient;

bool readCommand(DiskClient& client, const RunOptions& options);    // r
bool writeCommand(DiskClient& client, const RunOptions& options);   // w
bool romCommand(DiskClient& client, const RunOptions& options);     // s
