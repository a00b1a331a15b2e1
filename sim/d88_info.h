#pragma once
// ferry88sim --info: a one-page description of a D88 file (images, title,
// medium, per-track sector layout, what the reader had to tolerate).
#include <string>

namespace sim {

// False (with the reason in *text) when the file cannot be read or its first
// image not even parsed.
bool describeD88(const std::string& path, std::string* text);

} // namespace sim
