#pragma once
// The agent's reply to a read-track command: the sector count, one 12-byte
// delta-coded report per sector, then the data area.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/sector.h"

namespace sim {

// The PC reads 14 bits of a reply's length field: 16384 bytes would arrive as
// a reply of none.
constexpr size_t kMaxTrackReply = 0x3FFF;

// The reply for track t holding sectors (at most 255 of them are reported).
// Data that does not fit is cut where the reply is full; the reports then
// carry the shorter lengths.
std::vector<uint8_t> encodeTrackReply(int t, const std::vector<Sector>& sectors);

} // namespace sim
