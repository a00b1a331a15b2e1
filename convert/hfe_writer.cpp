#include "convert/hfe_writer.h"

#include "core/i18n.h"

bool writeHfe(const DiskImage&, std::vector<uint8_t>*, std::string* error)
{
    *error = tr("HFE ファイルはまだ書けません.");
    return false;
}
