#include "image/hfe.h"

#include "core/i18n.h"

bool readHfe(const std::vector<uint8_t>&, DiskImage*, std::string* error)
{
    *error = tr("HFE ファイルはまだ読めません.");
    return false;
}
