// The r command: one floppy into a new image at the end of a D88 file.
#include "core/bytes.h"
#include "core/console.h"
#include "core/i18n.h"
#include "core/run_options.h"
#include "image/d88.h"
#include "image/image_file.h"
#include "link/disk_client.h"
#include "transfer/commands.h"

namespace {

// Cuts the file at the end of the image just completed, so that the tail of a
// longer interrupted image it replaced is not taken for a broken next image.
bool cutAfterImage(ImageFile& image, uint32_t size)
{
    return image.seek(static_cast<int32_t>(size), ImageFile::SeekFromImage) && image.truncateHere();
}

Outcome fileFailure(Step step, Cause cause, const ImageFile& image, const RunOptions& options)
{
    Outcome o = Outcome::failed(step, cause).in(Operation::Read);
    o.systemError = image.systemError;
    o.file = options.fileArg;
    return o;
}

} // namespace

Outcome readCommand(DiskClient& client, const RunOptions& options)
{
    ImageFile image;
    if (!image.open(options.fileArg.c_str(), ImageFile::OpenAlways)) {
        console::err(tr("ファイルを作れません.\n"));
        // The file is created when missing: "not found" can only be its folder.
        return fileFailure(Step::ImageOpen,
                           image.lastError == 1 ? Cause::FolderMissing : Cause::FileError, image,
                           options);
    }

    // A new image goes after the last one, or over an interrupted one.
    d88::Selected where = d88::Selected::EndOfFile;
    int number = 1;
    if (!d88::selectImage(image, 99999, &where, &number)) {
        // Writing at base offset 0 would overwrite the images already there.
        return fileFailure(Step::ImageOpen, Cause::DamagedImage, image, options);
    }

    ReadPlan plan;
    plan.retries = options.retries;
    plan.file = options.fileArg;
    plan.imageIndex = number;
    d88::D88Header interrupted;
    if (options.resume && where != d88::Selected::InProgress) {
        console::out(tr("中断した読み込みはありません. 新しく読み込みます.\n"));
    } else if (options.resume) {
        // Only a progress record written by this program says what is stored.
        uint8_t bytes[d88::kHeaderSize];
        const bool whole = image.seek(0, ImageFile::SeekFromImage) &&
                           image.read(bytes, d88::kHeaderSize) == d88::kHeaderSize;
        image.seek(0, ImageFile::SeekFromEnd);
        const int64_t size = image.tell();
        if (whole)
            interrupted = d88::D88Header::decode(bytes);
        if (!whole || interrupted.tracksDone < 0 || interrupted.dataEnd < d88::kHeaderSize ||
            interrupted.dataEnd > size)
            return fileFailure(Step::ImageRead, Cause::NotResumable, image, options);
        plan.resume = &interrupted;
    }

    Outcome outcome = client.readDisk(options.driveIndex(), options.medium, image, plan);
    // The title and the write-protect flag go over the provisional "made by
    // ferry2" whenever the header is there, an interrupted read's too: they
    // leave its marker and progress record as they are.
    const bool complete = outcome.completed || outcome.step == Step::End;
    if (complete || outcome.read.imageStarted) {
        bool ok = d88::stampTitle(image, options.title, options.protect);
        if (ok && complete && where == d88::Selected::InProgress)
            ok = cutAfterImage(image, outcome.read.imageBytes);
        if (!ok && complete)
            outcome = fileFailure(Step::ImageWrite, Cause::FileError, image, options);
    }
    image.close();
    return outcome;
}
