#pragma once
#include "core/outcome.h"

// The b command: streams "ferry2.bas" from the current directory to the port in
// 512-byte chunks, without framing. Completed when every byte went out.
Outcome uploadLoader(int port, int speed, const char* path = nullptr);

// The loader's file name, looked up in the current directory.
constexpr const char* kLoaderFile = "ferry2.bas";
