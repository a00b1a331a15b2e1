#pragma once
// The fuzz build's serial line (sio_memory.cpp, linked in place of
// sio_posix.cpp): every sio reads from the bytes loaded here, and what it
// writes goes nowhere. A read that finds too few bytes fails the way a
// time-out does, at once.
#include <cstddef>
#include <cstdint>

namespace memory_line
{

// What the far end will have sent; replaces anything not yet read.
void load(const uint8_t* data, size_t size);
// Bytes not read yet.
size_t remaining();

} // namespace memory_line
