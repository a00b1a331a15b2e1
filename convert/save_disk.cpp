#include "convert/save_disk.h"

#include "convert/hfe_writer.h"
#include "core/i18n.h"
#include "image/d88_image.h"
#include "image/raw_image.h"

bool saveDisk(const DiskImage& disk, ImageFormat format, bool lossy, std::vector<uint8_t>* file,
              SaveReport* report, std::string* error)
{
    *report = SaveReport();
    switch (format) {
    case ImageFormat::D88: *file = encodeD88(disk); return true;
    case ImageFormat::Hfe: return writeHfe(disk, file, error);
    case ImageFormat::Imd: return writeImd(disk, lossy, file, &report->imd, error);
    case ImageFormat::Raw: return writeRaw(disk, file, error);
    case ImageFormat::Unknown: break;
    }
    *error = tr("形式がわかりません.");
    return false;
}
