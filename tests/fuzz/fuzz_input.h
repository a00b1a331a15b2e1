#pragma once
// Reads a fuzzer's bytes as the fields a target needs: a few settings at the
// front, the rest as the data under test. Past the end every field reads as 0,
// so any input, the empty one too, is a valid case.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace fuzz
{

class FuzzInput
{
public:
    FuzzInput(const uint8_t* data, size_t size) : cursor(data), end(data + size) {}

    uint8_t u8() { return cursor < end ? *cursor++ : 0; }
    uint16_t u16()
    {
        const uint16_t low = u8();
        return static_cast<uint16_t>(low | (u8() << 8));
    }
    // The next n bytes (fewer at the end); *taken says how many.
    const uint8_t* bytes(size_t n, size_t* taken)
    {
        const uint8_t* at = cursor;
        *taken = n < remaining() ? n : remaining();
        cursor += *taken;
        return at;
    }
    const uint8_t* rest() const { return cursor; }
    size_t remaining() const { return static_cast<size_t>(end - cursor); }

private:
    const uint8_t* cursor;
    const uint8_t* end;
};

// The seed side: builds an input field by field, in the order a target reads it.
class FuzzWriter
{
public:
    FuzzWriter& u8(uint8_t v)
    {
        bytes.push_back(v);
        return *this;
    }
    FuzzWriter& u16(uint16_t v)
    {
        bytes.push_back(static_cast<uint8_t>(v));
        bytes.push_back(static_cast<uint8_t>(v >> 8));
        return *this;
    }
    FuzzWriter& append(const std::vector<uint8_t>& v)
    {
        bytes.insert(bytes.end(), v.begin(), v.end());
        return *this;
    }

    std::vector<uint8_t> bytes;
};

} // namespace fuzz
