#pragma once
// The agent's run-length encoder for replies ("$" with method 1).
#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

// Header word (n | 0x4000, little-endian) followed by items: a control byte
// with bit 7 set repeats the next byte (c & 0x7F) + 3 times; with bit 7 clear
// it copies the next (c & 0x7F) + 1 bytes. n must be below 16384.
std::vector<uint8_t> rleEncode(const uint8_t* data, size_t n);

} // namespace sim
