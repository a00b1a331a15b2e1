#include "sim/lz_decoder.h"

#include "core/bytes.h"

namespace sim {

namespace {

// Reads the stream the way the agent does: flag bits most significant first,
// and the next flag byte fetched the moment the eighth bit of the current one
// has been taken, before any data byte.
class LzReader {
public:
    LzReader(const uint8_t* stream, size_t streamLength) : in(stream), length(streamLength) {}

    bool start(size_t offset)
    {
        pos = offset;
        return loadFlags();
    }

    bool bit(int& value)
    {
        if (failed)
            return false;
        value = (flags >> 7) & 1;
        flags = static_cast<uint8_t>(flags << 1);
        if (--bitsLeft == 0)
            return loadFlags();
        return true;
    }

    bool byte(uint8_t& value)
    {
        if (failed || pos >= length)
            return fail();
        value = in[pos++];
        return true;
    }

    size_t position() const { return pos; }

private:
    bool loadFlags()
    {
        if (pos >= length)
            return fail();
        flags = in[pos++];
        bitsLeft = 8;
        return true;
    }

    bool fail()
    {
        failed = true;
        return false;
    }

    const uint8_t* in;
    size_t length;
    size_t pos = 0;
    uint8_t flags = 0;
    int bitsLeft = 0;
    bool failed = false;
};

bool refuse(std::string* error, const std::string& reason)
{
    if (error)
        *error = reason;
    return false;
}

// Reads the long form's distance code on top of v = 0xFF00 + low byte.
bool readDistance(LzReader& r, unsigned& v)
{
    int x, stop;
    if (!r.bit(x) || !r.bit(stop))
        return false;
    if (stop) {
        v = (v & ~0x100u) | (unsigned(x) << 8);
        return true;
    }
    if (!r.bit(stop))
        return false;
    if (stop) {
        v = (v & ~0x300u) | (unsigned(x) << 8);
        return true;
    }
    int y;
    if (!r.bit(y) || !r.bit(stop))
        return false;
    if (stop) {
        v = (v & ~0x700u) | (unsigned(x) << 9) | (unsigned(y) << 8);
        return true;
    }
    int z;
    if (!r.bit(z) || !r.bit(stop))
        return false;
    if (stop) {
        v = (v & ~0xF00u) | (unsigned(x) << 10) | (unsigned(y) << 9) | (unsigned(z) << 8);
        return true;
    }
    int w;
    if (!r.bit(w))
        return false;
    v = (v & ~0x1F00u) | (unsigned(x) << 11) | (unsigned(y) << 10) | (unsigned(z) << 9) |
        (unsigned(w) << 8);
    return true;
}

// Length code: up to six leading zeros select the row.
bool readLength(LzReader& r, int& length)
{
    int b;
    for (int zeros = 0; zeros < 4; ++zeros) {
        if (!r.bit(b))
            return false;
        if (b) {
            length = 3 + zeros;
            return true;
        }
    }
    if (!r.bit(b))
        return false;
    if (b) {
        if (!r.bit(b))
            return false;
        length = 7 + b;
        return true;
    }
    if (!r.bit(b))
        return false;
    if (b) {
        uint8_t extra;
        if (!r.byte(extra))
            return false;
        length = 17 + extra;
        return true;
    }
    int extra = 0;
    for (int i = 0; i < 3; ++i) {
        if (!r.bit(b))
            return false;
        extra = (extra << 1) | b;
    }
    length = 9 + extra;
    return true;
}

} // namespace

bool lzDecode(const uint8_t* in, size_t inLength, std::vector<uint8_t>& out, std::string* error,
              size_t* consumed)
{
    out.clear();
    if (inLength < 2)
        return refuse(error, "stream shorter than its header");
    const uint16_t header = readLe16(in);
    if ((header >> 14) != 2)
        return refuse(error, "not an LZ stream (method " + std::to_string(header >> 14) + ")");
    const size_t expected = header & 0x3FFF;
    out.reserve(expected);

    LzReader r(in, inLength);
    if (!r.start(2))
        return refuse(error, "stream ends before its first flag byte");
    const std::string truncated = "stream ends inside an item";
    for (;;) {
        int kind;
        if (!r.bit(kind))
            return refuse(error, truncated);
        if (kind) {
            uint8_t literal;
            if (!r.byte(literal))
                return refuse(error, truncated);
            if (out.size() >= expected)
                return refuse(error, "literal past the header's length");
            out.push_back(literal);
            continue;
        }

        uint8_t lo;
        int form;
        if (!r.byte(lo) || !r.bit(form))
            return refuse(error, truncated);
        size_t distance;
        int length;
        if (form == 0) {
            if (lo == 0)
                break;
            distance = 256 - lo;
            length = 3;
        } else {
            unsigned v = 0xFF00u + lo;
            if (!readDistance(r, v) || !readLength(r, length))
                return refuse(error, truncated);
            distance = 0x10000u - v;
        }
        if (distance > out.size())
            return refuse(error, "match reaches " + std::to_string(distance) +
                                     " bytes back with only " + std::to_string(out.size()) +
                                     " decoded");
        if (out.size() + static_cast<size_t>(length) > expected)
            return refuse(error, "match past the header's length");
        // Byte by byte: a source that overlaps the destination repeats itself.
        size_t from = out.size() - distance;
        for (int i = 0; i < length; ++i)
            out.push_back(out[from + i]);
    }
    if (consumed)
        *consumed = r.position();
    if (out.size() != expected)
        return refuse(error, "end marker after " + std::to_string(out.size()) + " of " +
                                 std::to_string(expected) + " bytes");
    return true;
}

} // namespace sim
