#pragma once
// The test side's reading of an agent reply payload (the 16-bit header, then
// stored or run-length data), bounded by the bytes given: an independent check
// of both the sim's encoder and the client's expansion.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace testsupport {

// True when the payload expands to exactly its header's length. *consumed
// (when given) is the number of payload bytes used.
inline bool expandReply(const std::vector<uint8_t>& in, std::vector<uint8_t>* out,
                        size_t* consumed = nullptr)
{
    out->clear();
    if (in.size() < 2)
        return false;
    const size_t n = size_t(in[0] | (in[1] << 8)) & 0x3FFF;
    const int method = in[1] >> 6;
    size_t at = 2;
    if (method == 0) {
        if (in.size() < 2 + n)
            return false;
        out->assign(in.begin() + 2, in.begin() + 2 + long(n));
        at += n;
    } else if (method == 1) {
        while (out->size() < n) {
            if (at >= in.size())
                return false;
            const uint8_t c = in[at++];
            if (c & 0x80) {
                if (at >= in.size())
                    return false;
                out->insert(out->end(), size_t(c & 0x7F) + 3, in[at++]);
            } else {
                const size_t k = size_t(c & 0x7F) + 1;
                if (at + k > in.size())
                    return false;
                out->insert(out->end(), in.begin() + long(at), in.begin() + long(at + k));
                at += k;
            }
        }
    } else {
        return false;
    }
    if (consumed)
        *consumed = at;
    return out->size() == n;
}

} // namespace testsupport
