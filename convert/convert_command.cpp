// The c command: loads image N of IN into memory in its format, saves it in
// OUT's, and puts OUT in place only when the whole file is written, so a
// failed conversion leaves no OUT and no temporary file.
#include "convert/convert_command.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "convert/save_disk.h"
#include "core/console.h"
#include "core/i18n.h"
#include "core/run_options.h"
#include "core/system_error.h"
#include "core/text_format.h"
#include "image/image_file.h"
#include "image/image_format.h"
#include "transfer/commands.h"

namespace
{

// The format a --from/--to names, else the one of the file's extension.
ImageFormat formatFor(const std::string& path, const std::string& option, const char* flag)
{
    const ImageFormat format =
        option.empty() ? formatFromPath(path) : formatFromName(option);
    if (format == ImageFormat::Unknown)
        console::err(tr("%s: 拡張子から形式がわかりません. %s d88 (hfe, imd, raw) のように"
                        "指定してください.\n"),
                     path.c_str(), flag);
    return format;
}

std::string numberList(const std::vector<int>& numbers)
{
    std::string text;
    for (int n : numbers)
        text += (text.empty() ? "" : ", ") + std::to_string(n);
    return text;
}

// What the output could not hold, in words; empty when it holds everything.
std::string lossText(const SaveReport& report)
{
    std::vector<std::string> parts;
    const ImdLoss& imd = report.imd;
    if (imd.idCrc)
        parts.push_back(textFormat(tr("ID CRC エラーのセクタ %d"), imd.idCrc));
    if (imd.noDataMark)
        parts.push_back(textFormat(tr("データマークのないセクタ %d"), imd.noDataMark));
    if (!imd.mixed.empty())
        parts.push_back(textFormat(tr("大きさか記録密度の混在するトラック %d (%s)"),
                                   static_cast<int>(imd.mixed.size()),
                                   numberList(imd.mixed).c_str()));
    if (imd.resized)
        parts.push_back(textFormat(tr("データの長さが N と合わないセクタ %d (長さを合わせました)"),
                                   imd.resized));
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : ", ") + part;
    return text;
}

// Writes bytes to a temporary file beside out, then renames it over out.
bool writeInPlace(const std::string& out, const std::vector<uint8_t>& bytes)
{
    const std::string temp = out + ".ferry2-tmp";
    ImageFile file;
    bool written = file.open(temp.c_str(), ImageFile::CreateAlways);
    int systemError = file.systemError;
    if (written) {
        written = bytes.empty() || file.write(bytes.data(), static_cast<int>(bytes.size())) ==
                                       static_cast<int>(bytes.size());
        systemError = file.systemError;
        file.close();
    }
    std::error_code failure;
    if (written) {
        std::filesystem::rename(std::filesystem::u8path(temp), std::filesystem::u8path(out),
                                failure);
        if (!failure)
            return true;
    }
    std::error_code ignored;
    std::filesystem::remove(std::filesystem::u8path(temp), ignored);
    console::err(tr("%s を書き出せません (%s).\n"), out.c_str(),
                 failure ? failure.message().c_str() : systemErrorText(systemError).c_str());
    return false;
}

} // namespace

int convertCommand(const RunOptions& options)
{
    std::string in;
    int index = 1;
    splitImageArgument(options.fileArg, &in, &index);
    if (options.imageIndex > 0)
        index = options.imageIndex;
    const std::string& out = options.fileArg2;
    const ImageFormat from = formatFor(in, options.fromFormat, "--from");
    if (from == ImageFormat::Unknown)
        return 1;
    const ImageFormat to = formatFor(out, options.toFormat, "--to");
    if (to == ImageFormat::Unknown)
        return 1;

    RawGeometry geometry;
    const bool given = !options.geometry.empty() && parseGeometry(options.geometry, &geometry);
    DiskImage disk;
    std::string error;
    if (!loadDisk(in, index, from, given ? &geometry : nullptr, &disk, &error)) {
        console::err("%s\n", error.c_str());
        return 1;
    }
    std::vector<uint8_t> bytes;
    SaveReport report;
    if (!saveDisk(disk, to, options.lossy, &bytes, &report, &error)) {
        console::err(tr("%s (%s) に変換できません: %s\n"), out.c_str(), formatName(to),
                     error.c_str());
        return 1;
    }
    if (!writeInPlace(out, bytes))
        return 1;

    int tracks = 0, sectors = 0;
    for (const d88::TrackRecords& track : disk.tracks) {
        tracks += !track.empty();
        sectors += static_cast<int>(track.size());
    }
    const std::string lost = lossText(report);
    console::out(tr("%s を %s に変換しました: %s, フォーマット済みトラック %d, セクタ %d, %s\n"),
                 out.c_str(), formatName(to), d88::mediumName(disk.medium), tracks, sectors,
                 lost.empty() ? tr("すべて入りました.")
                              : textFormat(tr("入らなかったもの: %s."), lost.c_str()).c_str());
    return 0;
}
