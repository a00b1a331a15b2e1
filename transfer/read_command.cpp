// The r command: one floppy into a new image at the end of a D88 file.
#include "core/bytes.h"
#include "core/console.h"
#include "core/run_options.h"
#include "image/d88.h"
#include "image/image_file.h"
#include "link/disk_client.h"
#include "transfer/commands.h"

namespace {

const char kWriteFailedMessage[] = "ディスクイメージに書き込めません.\n";

// Title and write-protect flag go in after the read, over the provisional
// "made by ferry2"; byte 16 of the title stays NUL.
bool stampHeader(ImageFile& image, const RunOptions& options)
{
    const uint8_t protect = options.protect ? d88::kProtected : 0x00;
    return image.seek(d88::kTitle, ImageFile::SeekFromImage) &&
           image.write(options.title, 16) == 16 &&
           image.seek(d88::kWriteProtect, ImageFile::SeekFromImage) &&
           image.write(&protect, 1) == 1;
}

// Cuts the file at the end of the image just completed, so that the tail of a
// longer interrupted image it replaced is not taken for a broken next image.
bool cutAfterImage(ImageFile& image)
{
    uint8_t field[4] = {};
    if (!image.seek(d88::kDiskSize, ImageFile::SeekFromImage) || image.read(field, 4) != 4)
        return false;
    const uint32_t size = readLe32(field);
    if (size == d88::kInProgress || size > d88::kMaxImageSize)
        return false;
    return image.seek(static_cast<int32_t>(size), ImageFile::SeekFromImage) &&
           image.truncateHere();
}

} // namespace

bool readCommand(DiskClient& client, const RunOptions& options)
{
    ImageFile image;
    if (!image.open(options.fileArg.c_str(), ImageFile::OpenAlways)) {
        console::err("ファイルを作れません.\n");
        image.close();
        return false;
    }

    // A new image goes after the last one, or over an interrupted one.
    d88::Selected where = d88::Selected::EndOfFile;
    if (!d88::selectImage(image, 99999, &where)) {
        // Writing at base offset 0 would overwrite the images already there.
        console::err("ディスクイメージの構造が壊れています.\n");
        image.close();
        return false;
    }

    const bool completed = client.readDisk(options.drive - 1, options.medium, image);

    // Without a header at the image start a stamp would leave a fragment the
    // image walk cannot step over; after a failed write the disk is suspect.
    if (client.headerWritten() && !client.imageWriteFailed()) {
        bool ok = stampHeader(image, options);
        if (ok && completed && where == d88::Selected::InProgress)
            ok = cutAfterImage(image);
        if (!ok)
            console::err(kWriteFailedMessage);
    }

    image.close();
    return true;
}
