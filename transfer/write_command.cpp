// The w command: opens the image file, selects the requested image and writes
// it back onto a floppy.
#include <cstdlib>
#include <vector>

#include "core/console.h"
#include "core/run_options.h"
#include "image/d88.h"
#include "image/image_check.h"
#include "image/image_file.h"
#include "link/disk_client.h"
#include "transfer/commands.h"

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

Outcome writeCommand(DiskClient& client, const RunOptions& options)
{
    std::string name;
    int index = 1;
    splitImageArgument(options.fileArg, &name, &index);

    ImageFile image;
    if (!image.open(name.c_str(), ImageFile::ReadOnly)) {
        console::err("ファイルを開けません.\n");
        Outcome o = Outcome::failed(Step::ImageOpen, Cause::FileError).in(Operation::Write);
        o.systemError = image.systemError;
        o.file = name;
        return o;
    }
    // An index past the last image selects the end of the file (where r would
    // append), and an interrupted read leaves a header without a track table:
    // neither is a disk to write.
    d88::Selected where = d88::Selected::Image;
    if (!d88::selectImage(image, index, &where) || where != d88::Selected::Image ||
        !headerPresent(image)) {
        console::err("指定されたディスクがありません.\n");
        Outcome o = Outcome::failed(Step::ImageOpen, Cause::NoImage).in(Operation::Write);
        o.file = options.fileArg;
        return o;
    }
    Outcome outcome =
        client.writeDisk(options.driveIndex(), image, options.verify, options.fileArg);
    image.close();
    return outcome;
}
