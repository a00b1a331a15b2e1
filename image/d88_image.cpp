#include "image/d88_image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/bytes.h"
#include "core/i18n.h"
#include "core/text_format.h"
#include "image/image_file.h"

bool loadD88Disk(const std::string& path, int index, DiskImage* disk, std::string* error)
{
    ImageFile file;
    if (!file.open(path.c_str(), ImageFile::ReadOnly)) {
        *error = path + ": " + tr("ファイルを開けません.");
        return false;
    }
    d88::Selected where = d88::Selected::Image;
    if (!d88::selectImage(file, index, &where) || where == d88::Selected::EndOfFile) {
        *error = path + ": " + tr("指定されたディスクがありません.");
        return false;
    }
    if (where == d88::Selected::InProgress) {
        *error = path + ": " + tr("読み込みが中断されたイメージは変換できません.");
        return false;
    }
    ImageTracks loaded;
    if (!loadImageTracks(file, &loaded)) {
        *error = path + ": " + tr("指定されたディスクがありません.");
        return false;
    }
    if (loaded.check.state != ImageState::Sound) {
        *error = path + " (D88): " +
                 (loaded.check.state == ImageState::BadTrack
                      ? textFormat(tr("ディスクイメージが壊れています (トラック %d)."),
                                   loaded.check.track)
                      : std::string(tr("ディスクイメージが壊れています (サイズ欄が不正です).")));
        return false;
    }
    *disk = diskFromImageTracks(loaded);
    return true;
}

DiskImage diskFromImageTracks(const ImageTracks& image)
{
    DiskImage disk;
    const uint8_t* title = image.header + d88::kTitle;
    disk.title.assign(reinterpret_cast<const char*>(title),
                      strnlen(reinterpret_cast<const char*>(title), 16));
    disk.writeProtected = image.header[d88::kWriteProtect] != 0;
    disk.medium = image.medium;
    disk.tracks = image.tracks;
    return disk;
}

std::vector<uint8_t> encodeD88(const DiskImage& disk)
{
    std::vector<uint8_t> out(d88::kHeaderSize);
    d88::D88Header header;
    std::memcpy(header.title, disk.title.data(), std::min<size_t>(disk.title.size(), d88::kTitleLength));
    header.writeProtect = disk.writeProtected ? d88::kProtected : 0;
    header.mediaType = d88::mediaTypeFor(disk.medium);
    const size_t slots = std::min<size_t>(disk.tracks.size(), d88::kTrackCount);
    for (size_t t = 0; t < slots; ++t) {
        const d88::TrackRecords& track = disk.tracks[t];
        if (track.empty())
            continue;
        header.trackOffsets[t] = static_cast<uint32_t>(out.size());
        for (const d88::SectorRecord& s : track) {
            const d88::D88SectorHeader record = d88::D88SectorHeader::of(s, track.size());
            const size_t at = out.size();
            out.resize(at + d88::kSectorHeaderSize + s.data.size());
            record.encode(out.data() + at);
            std::copy(s.data.begin(), s.data.end(), out.begin() + at + d88::kSectorHeaderSize);
        }
    }
    header.diskSize = static_cast<uint32_t>(out.size());
    header.encode(out.data());
    return out;
}

ImageTracks imageTracksFromDisk(const DiskImage& disk)
{
    ImageTracks image;
    const std::vector<uint8_t> bytes = encodeD88(disk);
    std::memcpy(image.header, bytes.data(), d88::kHeaderSize);
    image.medium = disk.medium;
    image.trackCount = d88::trackCountFor(disk.medium);
    image.tracks = disk.tracks;
    image.tracks.resize(static_cast<size_t>(image.trackCount));
    return image;
}
