#include "image/image_file.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

class ImageFileTest : public testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = testing::TempDir() + "image_file_XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        ASSERT_NE(nullptr, mkdtemp(buffer.data()));
        dir = buffer.data();
    }
    void TearDown() override
    {
        for (const std::string& f : created)
            unlink(f.c_str());
        rmdir(dir.c_str());
    }

    std::string name(const char* leaf)
    {
        std::string p = dir + "/" + leaf;
        created.push_back(p);
        return p;
    }

    // A file of count bytes 0, 1, 2, ...
    std::string numbered(const char* leaf, int count)
    {
        std::string p = name(leaf);
        FILE* f = std::fopen(p.c_str(), "wb");
        for (int i = 0; i < count; ++i)
            std::fputc(i & 0xFF, f);
        std::fclose(f);
        return p;
    }

    static long sizeOf(const std::string& p)
    {
        struct stat info;
        return stat(p.c_str(), &info) == 0 ? long(info.st_size) : -1;
    }

    std::string dir;
    std::vector<std::string> created;
};

TEST_F(ImageFileTest, MissingFileFailsQuietlyAfterwards)
{
    ImageFile file;
    EXPECT_FALSE(file.open(name("missing.d88").c_str(), ImageFile::ReadOnly));
    EXPECT_EQ(1, file.lastError);
    EXPECT_EQ(uint32_t(ImageFile::ReadOnlyState), file.state);  // recorded all the same
    uint8_t buffer[4];
    EXPECT_EQ(-1, file.read(buffer, 4));
    EXPECT_EQ(-1, file.write(buffer, 4));
    EXPECT_FALSE(file.seek(0, ImageFile::SeekFromImage));
    EXPECT_EQ(0, file.tell());
    EXPECT_FALSE(file.truncateHere());

    // Without OpenAlways or CreateAlways nothing is created.
    EXPECT_FALSE(file.open(name("missing2.d88").c_str(), 0));
    EXPECT_EQ(1, file.lastError);
    EXPECT_EQ(-1, sizeOf(dir + "/missing2.d88"));

    // A successful open leaves the reason of the last failure alone.
    EXPECT_TRUE(file.open(numbered("present.d88", 4).c_str(), ImageFile::ReadOnly));
    EXPECT_EQ(1, file.lastError);
}

TEST_F(ImageFileTest, ReadOnlyRefusesWritesAndTruncation)
{
    std::string p = numbered("ro.d88", 16);
    ImageFile file(p.c_str(), ImageFile::ReadOnly);
    ASSERT_TRUE(file.isOpen());
    EXPECT_EQ(uint32_t(ImageFile::Open | ImageFile::ReadOnlyState), file.state);
    uint8_t bytes[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    EXPECT_EQ(-1, file.write(bytes, 4));
    EXPECT_FALSE(file.truncateHere());
    EXPECT_EQ(16, sizeOf(p));
    uint8_t back[4];
    EXPECT_EQ(4, file.read(back, 4));
    EXPECT_EQ(0, back[0]);
    EXPECT_EQ(3, back[3]);
}

TEST_F(ImageFileTest, UnknownOriginIsRefused)
{
    ImageFile file(numbered("o.d88", 8).c_str(), ImageFile::ReadOnly);
    ASSERT_TRUE(file.isOpen());
    ASSERT_TRUE(file.seek(5, ImageFile::SeekFromImage));
    EXPECT_FALSE(file.seek(0, 3));
    EXPECT_FALSE(file.seek(0, -1));
    EXPECT_EQ(5, file.tell());
}

TEST_F(ImageFileTest, PositionsCountFromTheBaseOffset)
{
    std::string p = numbered("multi.d88", 100);
    ImageFile file(p.c_str(), ImageFile::ReadOnly);
    ASSERT_TRUE(file.isOpen());
    EXPECT_EQ(0, file.baseOffset);
    file.baseOffset = 40;

    struct Step {
        int32_t offset;
        int origin;
        int32_t tell;           // position minus baseOffset afterwards
        int nextByte;           // byte read there, -1 at the end
    };
    const Step steps[] = {
        {0, ImageFile::SeekFromImage, 0, 40},       // read moves on by one
        {10, ImageFile::SeekFromImage, 10, 50},
        {-5, ImageFile::SeekFromCurrent, 6, 46},
        {0, ImageFile::SeekFromEnd, 60, -1},
        {-100, ImageFile::SeekFromEnd, -40, 0},
        {-40, ImageFile::SeekFromImage, -40, 0},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(testing::Message() << "offset " << s.offset << " origin " << s.origin);
        ASSERT_TRUE(file.seek(s.offset, s.origin));
        EXPECT_EQ(s.tell, file.tell());
        uint8_t byte = 0;
        int n = file.read(&byte, 1);
        if (s.nextByte < 0) {
            EXPECT_EQ(0, n);
        } else {
            EXPECT_EQ(1, n);
            EXPECT_EQ(s.nextByte, byte);
        }
    }
    // Before the start of the file.
    EXPECT_FALSE(file.seek(-41, ImageFile::SeekFromImage));

    // Every open starts from the file again.
    ASSERT_TRUE(file.open(p.c_str(), ImageFile::ReadOnly));
    EXPECT_EQ(0, file.baseOffset);
    EXPECT_EQ(0, file.tell());
}

TEST_F(ImageFileTest, ShortReadAtTheEnd)
{
    ImageFile file(numbered("short.d88", 100).c_str(), ImageFile::ReadOnly);
    std::vector<uint8_t> buffer(512);
    EXPECT_EQ(100, file.read(buffer.data(), 512));
    EXPECT_EQ(0, file.read(buffer.data(), 512));
}

TEST_F(ImageFileTest, CreateAlwaysTruncatesAndOpenAlwaysKeeps)
{
    std::string kept = numbered("kept.d88", 50);
    {
        ImageFile file(kept.c_str(), ImageFile::OpenAlways);
        ASSERT_TRUE(file.isOpen());
        EXPECT_EQ(0, file.tell());
    }
    EXPECT_EQ(50, sizeOf(kept));

    std::string cut = numbered("cut.rom", 50);
    {
        ImageFile file(cut.c_str(), ImageFile::CreateAlways);
        ASSERT_TRUE(file.isOpen());
    }
    EXPECT_EQ(0, sizeOf(cut));

    std::string fresh = name("fresh.d88");
    {
        ImageFile file(fresh.c_str(), ImageFile::OpenAlways);
        ASSERT_TRUE(file.isOpen());
    }
    EXPECT_EQ(0, sizeOf(fresh));

    // CreateAlways wins over OpenAlways.
    {
        ImageFile file(kept.c_str(), ImageFile::OpenAlways | ImageFile::CreateAlways);
        ASSERT_TRUE(file.isOpen());
    }
    EXPECT_EQ(0, sizeOf(kept));
}

TEST_F(ImageFileTest, WritePastTheEndExtendsTheFile)
{
    std::string p = numbered("grow.d88", 10);
    ImageFile file(p.c_str(), ImageFile::OpenAlways);
    ASSERT_TRUE(file.seek(6, ImageFile::SeekFromEnd));
    const uint8_t tail[2] = {0xE5, 0x4E};
    EXPECT_EQ(2, file.write(tail, 2));
    EXPECT_EQ(18, file.tell());
    file.close();
    EXPECT_EQ(18, sizeOf(p));

    ASSERT_TRUE(file.open(p.c_str(), ImageFile::ReadOnly));
    std::vector<uint8_t> all(32);
    ASSERT_EQ(18, file.read(all.data(), 32));
    all.resize(18);
    const std::vector<uint8_t> expected = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9,
                                           0, 0, 0, 0, 0, 0, 0xE5, 0x4E};
    EXPECT_EQ(expected, all);
}

TEST_F(ImageFileTest, WriterSharesWithNobody)
{
    std::string p = numbered("busy.d88", 30);
    ImageFile writer(p.c_str(), ImageFile::OpenAlways);
    ASSERT_TRUE(writer.isOpen());

    const unsigned flags[] = {ImageFile::OpenAlways, ImageFile::ReadOnly, ImageFile::CreateAlways};
    for (unsigned f : flags) {
        SCOPED_TRACE(testing::Message() << "flags " << f);
        ImageFile other;
        EXPECT_FALSE(other.open(p.c_str(), f));
        EXPECT_EQ(2, other.lastError);
        EXPECT_FALSE(other.isOpen());
    }
    EXPECT_EQ(30, sizeOf(p));  // the refused CreateAlways truncated nothing

    writer.close();
    ImageFile after(p.c_str(), ImageFile::OpenAlways);
    EXPECT_TRUE(after.isOpen());
}

TEST_F(ImageFileTest, ReadersShareWithReaders)
{
    std::string p = numbered("shared.d88", 30);
    ImageFile first(p.c_str(), ImageFile::ReadOnly);
    ImageFile second(p.c_str(), ImageFile::ReadOnly);
    EXPECT_TRUE(first.isOpen());
    EXPECT_TRUE(second.isOpen());
    ImageFile writer;
    EXPECT_FALSE(writer.open(p.c_str(), ImageFile::OpenAlways));
    EXPECT_EQ(2, writer.lastError);
}

TEST_F(ImageFileTest, TruncateHereCutsAtThePosition)
{
    std::string p = numbered("cut.d88", 100);
    ImageFile file(p.c_str(), ImageFile::OpenAlways);
    file.baseOffset = 20;
    ASSERT_TRUE(file.seek(10, ImageFile::SeekFromImage));
    EXPECT_TRUE(file.truncateHere());
    EXPECT_EQ(30, sizeOf(p));
    EXPECT_EQ(10, file.tell());
}

TEST_F(ImageFileTest, TooLongANameIsAnotherReason)
{
    std::string longName = dir + "/" + std::string(300, 'a');
    ImageFile file;
    EXPECT_FALSE(file.open(longName.c_str(), ImageFile::ReadOnly));
    EXPECT_EQ(-1, file.lastError);  // neither missing nor busy
    EXPECT_NE(0, file.systemError);
}

} // namespace
