#pragma once
#include <cstdint>

// Milliseconds from an arbitrary start, wrapping like GetTickCount; only
// differences are meaningful.
uint32_t tickCount();
