#pragma once
// A virtual floppy in one of the simulated PC-8801's drives: the tracks as
// lists of sectors, loaded from a D88 image, read back as the agent's track
// replies, and written through a physical model of a formatted track.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/sector.h"

namespace sim {

class Floppy {
public:
    static constexpr int kTracks = 164;

    // Loads the index-th image (from 1) of a D88 file. The medium comes from
    // the media byte (0x20 2HD, 0x10 2DD, otherwise 2D).
    bool load(const std::string& path, std::string* error, int index = 1);
    // An unformatted disk of the medium code (0 2D, 1 2DD, 3 2HD).
    void blank(int medium);
    // Writes the disk as a single-image D88 file (title "ferry88sim").
    bool save(const std::string& path, std::string* error) const;

    int medium() const { return mediumCode; }

    // The track reply for track t (encodeTrackReply); {0} for a track number
    // outside the table.
    std::vector<uint8_t> trackReply(int t) const;

    // Formats and writes track t from a write-track payload. Returns the reply
    // byte (0 when the payload was applied). Problems of the layout (a grid
    // that does not fit the track, a real sector's ID destroyed by its
    // neighbour, a malformed payload) are appended to *violations.
    // Reply bytes: kWriteOk; kWriteLost when the layout was applied but cost
    // sectors; kWriteMalformed (payload refused, track unchanged); kWriteNoTrack
    // (t beyond the medium's tracks, track unchanged).
    uint8_t writeTrack(int t, const uint8_t* payload, size_t length,
                       std::vector<std::string>* violations);

    static constexpr uint8_t kWriteOk = 0;
    static constexpr uint8_t kWriteMalformed = 1;
    static constexpr uint8_t kWriteLost = 2;
    static constexpr uint8_t kWriteNoTrack = 3;

    // 84 tracks for 2D, 164 for 2DD and 2HD.
    int trackCount() const;
    // What the last load() tolerated: records cut at the end of the image,
    // offsets past it, an implausible diskSize, and so on.
    const std::vector<std::string>& loadWarnings() const { return warnings; }

    const std::vector<Sector>& track(int t) const { return tracks[t]; }
    std::vector<Sector>& track(int t) { return tracks[t]; }

private:
    int mediumCode = 0;
    std::vector<Sector> tracks[kTracks];
    std::vector<std::string> warnings;
};

} // namespace sim
