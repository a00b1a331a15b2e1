#include "sim/d88_info.h"

#include <cstdio>
#include <vector>

#include "sim/d88_file.h"

namespace sim {

namespace {

const char* mediumName(int medium)
{
    static const char* const names[] = {"2D", "2DD", "???", "2HD"};
    return medium >= 0 && medium <= 3 ? names[medium] : "???";
}

std::string sizeText(uint8_t n)
{
    if (n <= 8)
        return std::to_string(128 << n);
    char buf[16];
    std::snprintf(buf, sizeof buf, "N0x%02X", n);
    return buf;
}

std::string trackSummary(const std::vector<Sector>& track)
{
    std::string line;
    // Runs of equal size in record order: "1 x 1024 + 4 x 256".
    int groups = 0;
    for (size_t i = 0; i < track.size();) {
        size_t j = i;
        while (j < track.size() && track[j].n == track[i].n)
            ++j;
        if (groups == 6) {
            line += " + ...";
            break;
        }
        line += (groups ? " + " : "") + std::to_string(j - i) + " x " + sizeText(track[i].n);
        ++groups;
        i = j;
    }
    size_t fm = 0, deleted = 0, idCrc = 0, dataCrc = 0, noMark = 0, other = 0;
    for (const Sector& s : track) {
        fm += s.fm;
        deleted += s.deleted;
        idCrc += s.status == d88::kStatusIdCrc;
        dataCrc += s.status == d88::kStatusDataCrc;
        noMark += s.status == d88::kStatusNoDataMark;
        other += s.status != 0 && s.status != d88::kStatusIdCrc &&
                 s.status != d88::kStatusDataCrc && s.status != d88::kStatusNoDataMark;
    }
    line += fm == 0 ? " MFM" : fm == track.size() ? " FM" : " MFM/FM";
    auto count = [&](size_t k, const char* what, const char* plural) {
        if (k)
            line += ", " + std::to_string(k) + " " + what + (k > 1 ? plural : "");
    };
    count(deleted, "deleted", "");
    count(idCrc, "ID CRC error", "s");
    count(dataCrc, "data CRC error", "s");
    count(noMark, "missing data mark", "s");
    count(other, "other status", "es");
    return line;
}

std::string printable(const std::string& s)
{
    std::string out;
    for (char ch : s)
        out.push_back(ch >= 0x20 && ch < 0x7F ? ch : '.');
    return out;
}

} // namespace

bool describeD88(const std::string& path, std::string* text)
{
    text->clear();
    std::vector<uint8_t> file;
    std::string error;
    if (!readWholeFile(path, &file, &error)) {
        *text = error + "\n";
        return false;
    }
    constexpr int kMaxImages = 64;
    constexpr size_t kMaxWarnings = 16;
    size_t start = 0;
    int index = 1;
    for (; index <= kMaxImages && start < file.size(); ++index) {
        D88Image image;
        if (!parseD88Image(file, start, &image, &error)) {
            *text += "image " + std::to_string(index) + " at " + std::to_string(start) + ": " +
                     error + "\n";
            return index > 1;
        }
        int formatted = 0;
        for (const auto& track : image.tracks)
            formatted += !track.empty();
        char head[200];
        std::snprintf(head, sizeof head,
                      "image %d at %zu: \"%s\" %s, %s, diskSize %lu, %d formatted tracks\n",
                      index, start, printable(image.title).c_str(), mediumName(image.medium),
                      image.writeProtect ? "write-protected" : "not write-protected",
                      static_cast<unsigned long>(image.diskSize), formatted);
        *text += head;
        for (size_t t = 0; t < image.tracks.size(); ++t) {
            if (image.tracks[t].empty())
                continue;
            char num[32];
            std::snprintf(num, sizeof num, "  t %02zu: ", t);
            *text += num + trackSummary(image.tracks[t]) + "\n";
        }
        for (size_t i = 0; i < image.warnings.size() && i < kMaxWarnings; ++i)
            *text += "  warning: " + image.warnings[i] + "\n";
        if (image.warnings.size() > kMaxWarnings)
            *text += "  (" + std::to_string(image.warnings.size() - kMaxWarnings) +
                     " more warnings)\n";
        const uint32_t size = image.diskSize;
        if (size == d88::kInProgress || size < d88::kHeaderSize || size > d88::kMaxImageSize)
            return true;   // the image took the rest of the file
        start += size;
    }
    if (index > kMaxImages && start < file.size())
        *text += "(more images not shown)\n";
    return true;
}

} // namespace sim
