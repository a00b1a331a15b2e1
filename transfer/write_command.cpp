// The w command: opens the image file, selects the requested image and writes
// it back onto a floppy.
#include <cstdlib>
#include <filesystem>
#include <random>
#include <system_error>
#include <vector>

#include "core/console.h"
#include "core/i18n.h"
#include "core/run_options.h"
#include "image/d88.h"
#include "image/image_check.h"
#include "image/image_file.h"
#include "link/disk_client.h"
#include "transfer/commands.h"
#include "image/d88_image.h"
#include "image/image_format.h"
#include "image/image_select.h"

namespace
{

// A disk in another format (HFE, IMD, raw) is converted to a D88 image in a
// temporary file, which the write below reads as it reads any image. Empty
// with the reason printed when the file cannot be read in its format.
struct ConvertedImage {
    std::string path;
    ~ConvertedImage()
    {
        std::error_code ignored;
        if (!path.empty())
            std::filesystem::remove(std::filesystem::u8path(path), ignored);
    }
};

bool convertToD88(const std::string& name, int index, ImageFormat format, ConvertedImage* temp)
{
    DiskImage disk;
    std::string error;
    if (!loadDisk(name, index, format, nullptr, &disk, &error)) {
        console::err("%s\n", error.c_str());
        return false;
    }
    const std::vector<uint8_t> bytes = encodeD88(disk);
    std::error_code failure;
    const std::filesystem::path folder = std::filesystem::temp_directory_path(failure);
    std::random_device random;
    temp->path = (folder / ("ferry2-" + std::to_string(random()) + ".d88")).u8string();
    ImageFile file;
    if (failure || !file.open(temp->path.c_str(), ImageFile::CreateAlways) ||
        file.write(bytes.data(), static_cast<int>(bytes.size())) != static_cast<int>(bytes.size())) {
        console::err(tr("一時ファイル %s を書き出せません.\n"), temp->path.c_str());
        return false;
    }
    return true;
}

} // namespace

void splitImageArgument(const std::string& fileArg, std::string* name, int* index)
{
    // strtok's cutting, without its hidden state: empty fields vanish.
    std::vector<std::string> fields;
    std::string::size_type start = 0;
    while (start <= fileArg.size()) {
        std::string::size_type stop = fileArg.find(';', start);
        if (stop == std::string::npos)
            stop = fileArg.size();
        if (stop > start)
            fields.push_back(fileArg.substr(start, stop - start));
        start = stop + 1;
    }
    *name = fields.empty() ? std::string() : fields[0];
    *index = fields.size() > 1 ? std::atoi(fields[1].c_str()) : 1;
}

void imageArgument(const RunOptions& options, const std::string& arg, std::string* name,
                   int* index)
{
    splitImageArgument(arg, name, index);
    if (options.imageIndex > 0)
        *index = options.imageIndex;
}

Outcome writeCommand(DiskClient& client, const RunOptions& options)
{
    std::string name;
    int index = 1;
    imageArgument(options, options.fileArg, &name, &index);

    const ImageFormat format = formatFromPath(name);
    ConvertedImage converted;
    if (format != ImageFormat::Unknown && format != ImageFormat::D88) {
        if (!convertToD88(name, index, format, &converted)) {
            Outcome o = Outcome::failed(Step::ImageRead, Cause::DamagedImage).in(Operation::Write);
            o.file = options.fileArg;
            return o;
        }
        name = converted.path;
        index = 1;
    }
    ImageFile image;
    if (!image.open(name.c_str(), ImageFile::ReadOnly)) {
        console::err(tr("ファイルを開けません.\n"));
        Outcome o = Outcome::failed(Step::ImageOpen, Cause::FileError).in(Operation::Write);
        o.systemError = image.systemError;
        o.file = name;
        return o;
    }
    // An index past the last image selects the end of the file (where r would
    // append), and an interrupted read leaves a header without a track table:
    // neither is a disk to write.
    // Why not, when the image cannot be used: the closing prints these lines.
    const std::vector<std::string> problem = selectionProblem(image, name, index);
    d88::Selected where = d88::Selected::Image;
    if (!problem.empty() || !d88::selectImage(image, index, &where) ||
        where != d88::Selected::Image || !headerPresent(image)) {
        console::err(tr("指定されたディスクがありません.\n"));
        Outcome o = Outcome::failed(Step::ImageOpen, Cause::NoImage).in(Operation::Write);
        o.file = name;
        o.notes = problem;
        return o;
    }
    Outcome outcome =
        client.writeDisk(options.driveIndex(), image, options.verify, options.fileArg);
    image.close();
    return outcome;
}
