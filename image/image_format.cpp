#include "image/image_format.h"

#include <algorithm>

#include "core/i18n.h"
#include "core/system_error.h"
#include "core/text_format.h"
#include "image/d88_image.h"
#include "image/hfe.h"
#include "image/image_file.h"
#include "image/imd.h"

namespace
{

std::string lower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

struct FormatName {
    const char* name;
    ImageFormat format;
};

const FormatName kExtensions[] = {
    {"d88", ImageFormat::D88}, {"d77", ImageFormat::D88}, {"88d", ImageFormat::D88},
    {"hfe", ImageFormat::Hfe}, {"imd", ImageFormat::Imd}, {"2d", ImageFormat::Raw},
    {"2dd", ImageFormat::Raw}, {"2hd", ImageFormat::Raw}, {"img", ImageFormat::Raw},
    {"dsk", ImageFormat::Raw},
};

const FormatName kNames[] = {
    {"d88", ImageFormat::D88},
    {"hfe", ImageFormat::Hfe},
    {"imd", ImageFormat::Imd},
    {"raw", ImageFormat::Raw},
};

} // namespace

ImageFormat formatFromPath(const std::string& path)
{
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of("/\\");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return ImageFormat::Unknown;
    const std::string extension = lower(path.substr(dot + 1));
    for (const FormatName& e : kExtensions)
        if (extension == e.name)
            return e.format;
    return ImageFormat::Unknown;
}

ImageFormat formatFromName(const std::string& name)
{
    for (const FormatName& e : kNames)
        if (lower(name) == e.name)
            return e.format;
    return ImageFormat::Unknown;
}

const char* formatName(ImageFormat format)
{
    switch (format) {
    case ImageFormat::D88: return "D88";
    case ImageFormat::Hfe: return "HFE";
    case ImageFormat::Imd: return "IMD";
    case ImageFormat::Raw: return "raw";
    case ImageFormat::Unknown: break;
    }
    return "?";
}

bool readWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error)
{
    ImageFile file;
    if (!file.open(path.c_str(), ImageFile::ReadOnly)) {
        *error = textFormat(tr("%s を開けません (%s)."), path.c_str(),
                            systemErrorText(file.systemError).c_str());
        return false;
    }
    file.seek(0, ImageFile::SeekFromEnd);
    const int32_t size = file.tell();
    file.seek(0, ImageFile::SeekFromImage);
    bytes->assign(static_cast<size_t>(std::max<int32_t>(size, 0)), 0);
    if (size < 0 || (size > 0 && file.read(bytes->data(), size) != size)) {
        *error = textFormat(tr("%s を読めません (%s)."), path.c_str(),
                            systemErrorText(file.systemError).c_str());
        return false;
    }
    return true;
}

bool loadDisk(const std::string& path, int index, ImageFormat format, const RawGeometry* geometry,
              DiskImage* disk, std::string* error)
{
    if (format == ImageFormat::D88)
        return loadD88Disk(path, index, disk, error);
    std::vector<uint8_t> bytes;
    if (!readWholeFile(path, &bytes, error))
        return false;
    if (index != 1) {
        *error = path + ": " + tr("指定されたディスクがありません.");
        return false;
    }
    std::string why;
    bool ok = false;
    switch (format) {
    case ImageFormat::Hfe: ok = readHfe(bytes, disk, &why); break;
    case ImageFormat::Imd: ok = readImd(bytes, disk, &why); break;
    case ImageFormat::Raw: ok = readRaw(bytes, geometry, disk, &why); break;
    case ImageFormat::D88:
    case ImageFormat::Unknown: why = tr("形式がわかりません."); break;
    }
    if (!ok)
        *error = textFormat("%s (%s): %s", path.c_str(), formatName(format), why.c_str());
    return ok;
}
