// The platform-free part of ImageFile; the file calls are per platform.
#include "image/image_file.h"

ImageFile::ImageFile() = default;

ImageFile::ImageFile(const char* path, unsigned flags)
{
    open(path, flags);
}

ImageFile::~ImageFile()
{
    close();
}
