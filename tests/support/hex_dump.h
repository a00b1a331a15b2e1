#pragma once
// Hex dumps for assertion messages: expected and actual bytes side by side.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace testsupport {

inline std::string hexDump(const uint8_t* p, size_t n, size_t perLine = 32)
{
    std::string s;
    char digits[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(digits, sizeof digits, "%02X", p[i]);
        if (i)
            s += (i % perLine == 0) ? '\n' : ' ';
        s += digits;
    }
    return s;
}

inline std::string hexDump(const std::vector<uint8_t>& b, size_t perLine = 32)
{
    return hexDump(b.data(), b.size(), perLine);
}

inline std::string hexDump(const std::string& b, size_t perLine = 32)
{
    return hexDump(reinterpret_cast<const uint8_t*>(b.data()), b.size(), perLine);
}

} // namespace testsupport
