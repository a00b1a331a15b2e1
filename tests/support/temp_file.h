#pragma once
// A file in GoogleTest's temporary folder, named after the running test so
// that tests which ctest runs side by side never share one; removed again on
// destruction.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace testsupport
{

class TempFile
{
public:
    TempFile(const std::string& name, const std::vector<uint8_t>& content)
    {
        const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
        std::string own = test ? std::string(test->test_suite_name()) + "_" + test->name() : "none";
        for (char& ch : own)
            if (ch == '/')
                ch = '_'; // parameterised tests are named "Suite/Name/0"
        path = testing::TempDir() + own + "_" + name;
        std::FILE* f = std::fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr) << path;
        if (f) {
            if (!content.empty())
                std::fwrite(content.data(), 1, content.size(), f);
            std::fclose(f);
        }
    }
    ~TempFile() { std::remove(path.c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    std::string path;
};

} // namespace testsupport
