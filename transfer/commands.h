#pragma once
// The command flows that the connected path hands a connected client to.
// Each returns the outcome of its operation, with what the flow itself ran
// into (a file that cannot be opened, an image that cannot be selected).
#include <string>

#include "core/outcome.h"

struct RunOptions;
class DiskClient;

Outcome readCommand(DiskClient& client, const RunOptions& options);    // r
Outcome writeCommand(DiskClient& client, const RunOptions& options);   // w
Outcome romCommand(DiskClient& client, const RunOptions& options);     // s

// The w command's file argument "name;index": the file name is the first
// ";"-separated field, the image index (from 1) the next non-empty one read as
// a decimal number, 1 without one. Runs of ";" count as one separator, as
// strtok cuts them: disk.d88;;2 gives image 2, disk.d88; image 1.
void splitImageArgument(const std::string& fileArg, std::string* name, int* index);

// The file and image index a command works on: splitImageArgument of arg, with
// the index of --image N when it was given (the options refuse both at once).
void imageArgument(const RunOptions& options, const std::string& arg, std::string* name,
                   int* index);
