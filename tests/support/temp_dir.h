#pragma once
// Temporary folders for tests, and whole files read and written as bytes.
// A folder is named after the running test and made unique by mkdtemp: ctest
// runs the tests side by side, and runs from other build folders share
// GoogleTest's temporary folder.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace testsupport
{

// The running test as part of a file name: "Suite_Name", or "none" outside a test.
inline std::string testFileName()
{
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = test ? std::string(test->test_suite_name()) + "_" + test->name() : "none";
    for (char& ch : name)
        if (ch == '/')
            ch = '_'; // parameterised tests are named "Prefix/Suite.Name/0"
    return name;
}

// The whole file; empty when it cannot be read.
inline std::vector<uint8_t> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

// The file's lines, without their line ends.
inline std::vector<std::string> readLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

// Creates or replaces the file with exactly these bytes.
inline bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    return !out.fail();
}

inline bool fileExists(const std::string& path)
{
    std::error_code ignored;
    return std::filesystem::exists(path, ignored);
}

// A fresh folder, removed with everything in it on destruction.
class TempDir
{
public:
    TempDir()
    {
        const std::string pattern = testing::TempDir() + testFileName() + "_XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        // Without a folder every path would point somewhere real: stop the test.
        if (!mkdtemp(buffer.data()))
            throw std::runtime_error("cannot create a temporary folder " + pattern);
        dir = buffer.data();
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return dir; }
    std::string file(const std::string& name) const { return dir + "/" + name; }
    // The folder's file name, created or replaced with these bytes.
    std::string write(const std::string& name, const std::vector<uint8_t>& bytes) const
    {
        const std::string path = file(name);
        EXPECT_TRUE(writeFile(path, bytes)) << path;
        return path;
    }

private:
    std::string dir;
};

} // namespace testsupport
