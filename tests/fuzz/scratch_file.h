#pragma once
// One temporary file per fuzzing process, rewritten with each input, for code
// that reads images through a path (ImageFile, the simulator's loader).
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace fuzz
{

class ScratchFile
{
public:
    ScratchFile()
    {
        const char* dir = getenv("TMPDIR");
        std::string pattern = std::string(dir && *dir ? dir : "/tmp") + "/ferry2-fuzz-XXXXXX";
        int fd = mkstemp(&pattern[0]);
        if (fd >= 0) {
            ::close(fd);
            name = pattern;
        }
    }
    ~ScratchFile()
    {
        if (!name.empty())
            unlink(name.c_str());
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    // Replaces the file's contents; false when it cannot be written.
    bool write(const uint8_t* data, size_t size) const
    {
        FILE* f = name.empty() ? nullptr : std::fopen(name.c_str(), "wb");
        if (!f)
            return false;
        const bool ok = std::fwrite(data, 1, size, f) == size;
        return std::fclose(f) == 0 && ok;
    }
    const char* path() const { return name.c_str(); }

private:
    std::string name;
};

} // namespace fuzz
