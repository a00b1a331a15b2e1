#include "tests/e2e/test_images.h"

#include <dirent.h>

#include <algorithm>

namespace e2e {

std::vector<uint8_t> patternData(size_t n, int seed)
{
    std::vector<uint8_t> data(n);
    for (size_t i = 0; i < n; ++i)
        data[i] = static_cast<uint8_t>(seed * 31 + i * 7 + (i >> 5));
    return data;
}

sim::D88Record testRecord(int t, int r, int n, uint8_t density)
{
    sim::D88Record rec;
    rec.c = static_cast<uint8_t>(t / 2);
    rec.h = static_cast<uint8_t>(t % 2);
    rec.r = static_cast<uint8_t>(r);
    rec.n = static_cast<uint8_t>(n);
    rec.density = density;
    rec.data = patternData(static_cast<size_t>(128) << n, t * 100 + r);
    return rec;
}

std::vector<std::string> corpusFiles()
{
    const std::string folder = FERRY2_TESTDATA;
    std::vector<std::string> paths;
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return paths;
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() > 4 && (name.substr(name.size() - 4) == ".d88" ||
                                name.substr(name.size() - 4) == ".d77"))
            paths.push_back(folder + "/" + name);
    }
    closedir(dir);
    std::sort(paths.begin(), paths.end());
    return paths;
}

} // namespace e2e
