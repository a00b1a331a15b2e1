#include "image/image_file.h"

#include <windows.h>

#include <cstring>

namespace {

HANDLE asHandle(intptr_t h)
{
    return reinterpret_cast<HANDLE>(h);
}

} // namespace

bool ImageFile::open(const char* name, unsigned flags)
{
    close();

    const bool readOnly = (flags & ReadOnly) != 0;
    DWORD disposition = (flags & CreateAlways) ? CREATE_ALWAYS
                      : (flags & OpenAlways)   ? OPEN_ALWAYS
                                               : OPEN_EXISTING;
    HANDLE h = CreateFileA(name, GENERIC_READ | (readOnly ? 0 : GENERIC_WRITE),
                           /*dwShareMode=*/readOnly ? FILE_SHARE_READ : 0,
                           /*lpSecurityAttributes=*/nullptr, disposition,
                           /*dwFlagsAndAttributes=*/0, /*hTemplateFile=*/nullptr);
    const bool ok = h != INVALID_HANDLE_VALUE;

    handle = reinterpret_cast<intptr_t>(h);
    state = (ok ? uint32_t(Open) : 0u) | (readOnly ? uint32_t(ReadOnlyState) : 0u);
    if (!ok) {
        DWORD error = GetLastError();
        lastError = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 1
                    : error == ERROR_SHARING_VIOLATION                         ? 2
                                                                               : -1;
        systemError = int(error);
    }
    baseOffset = 0;
    return ok;
}

void ImageFile::close()
{
    if (!isOpen())
        return;
    CloseHandle(asHandle(handle));
    handle = reinterpret_cast<intptr_t>(INVALID_HANDLE_VALUE);
    state = 0;
}

int ImageFile::read(void* buffer, int length)
{
    DWORD got = 0;
    if (!isOpen() || length < 0)
        return -1;
    if (!ReadFile(asHandle(handle), buffer, DWORD(length), &got, nullptr)) {
        systemError = int(GetLastError());
        return -1;
    }
    return int(got);
}

int ImageFile::write(const void* buffer, int length)
{
    DWORD written = 0;
    if (!isOpen() || (state & ReadOnlyState) || length < 0)
        return -1;
    if (!WriteFile(asHandle(handle), buffer, DWORD(length), &written, nullptr)) {
        systemError = int(GetLastError());
        return -1;
    }
    if (written != DWORD(length))
        systemError = ERROR_DISK_FULL;
    return int(written);
}

bool ImageFile::seek(int32_t offset, int origin)
{
    if (!isOpen())
        return false;
    DWORD method;
    int64_t distance = offset;
    switch (origin) {
    case SeekFromImage: method = FILE_BEGIN; distance += baseOffset; break;
    case SeekFromCurrent: method = FILE_CURRENT; break;
    case SeekFromEnd: method = FILE_END; break;
    default: return false;
    }
    // Only the low 32 bits travel (no high part): a sum beyond them is refused
    // rather than wrapped to some other position.
    if (distance < INT32_MIN || distance > INT32_MAX)
        return false;
    return SetFilePointer(asHandle(handle), LONG(distance), nullptr, method) !=
           INVALID_SET_FILE_POINTER;
}

int32_t ImageFile::tell()
{
    if (!isOpen())
        return 0;
    DWORD position = SetFilePointer(asHandle(handle), 0, nullptr, FILE_CURRENT);
    return int32_t(int64_t(int32_t(position)) - baseOffset);
}

bool ImageFile::truncateHere()
{
    if (!isOpen() || (state & ReadOnlyState))
        return false;
    return SetEndOfFile(asHandle(handle)) != 0;
}

bool ImageFile::replace(const char* from, const char* to, int* systemError)
{
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    *systemError = int(GetLastError());
    return false;
}

void ImageFile::remove(const char* path)
{
    DeleteFileA(path);
}
