#pragma once

// The b command: streams "ferry2.bas" from the current directory to the port in
// 512-byte chunks, without framing. 1 when the port cannot be opened, else 0.
int uploadLoader(int port, int speed, const char* path = nullptr);
