#pragma once
// One file with the given content in a folder of its own (see temp_dir.h),
// for tests that need a path and nothing else; removed on destruction.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace testsupport
{

class TempFile
{
    TempDir dir; // first: path is made from it

public:
    explicit TempFile(const std::string& name, const std::vector<uint8_t>& content = {})
        : path(dir.write(name, content))
    {
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    std::vector<uint8_t> contents() const { return readFile(path); }

    const std::string path;
};

} // namespace testsupport
