#pragma once
// The agent's LZ decoder for the PC's "$" data packets, written from the
// stream format alone (not the client's encoder run backwards), so that the
// two check each other.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// Decodes one LZ stream (16-bit header with method 2, flag bytes, items, end
// marker). Returns false, with a reason in *error, for a stream that is not
// method 2, runs past inLength, copies from before the output start, does not
// reach its end marker, or whose output length differs from the header's.
// *consumed (when given) is the number of stream bytes used, end marker included.
bool lzDecode(const uint8_t* in, size_t inLength, std::vector<uint8_t>& out,
              std::string* error = nullptr, size_t* consumed = nullptr);

} // namespace sim
