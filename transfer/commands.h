#pragma once
// The command flows that the connected path hands a connected client to.
// Each returns true when it ran (the run ends with status 0) and false when
// the run ends with status 1 (its message already printed).
#include <string>

struct RunOptions;
class DiskClient;

bool readCommand(DiskClient& client, const RunOptions& options);    // r
bool writeCommand(DiskClient& client, const RunOptions& options);   // w
bool romCommand(DiskClient& client, const RunOptions& options);     // s

// i: looks inside D88 files without a port. Returns the exit status.
int inspectCommand(const RunOptions& options);

// The w command's file argument "name;index": the file name is the first
// ";"-separated field, the image index (from 1) the next non-empty one read as
// a decimal number, 1 without one. Runs of ";" count as one separator, as
// strtok cuts them: disk.d88;;2 gives image 2, disk.d88; image 1.
void splitImageArgument(const std::string& fileArg, std::string* name, int* index);
