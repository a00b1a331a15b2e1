#include "image/image_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

bool ImageFile::open(const char* name, unsigned flags)
{
    close();

    const bool readOnly = (flags & ReadOnly) != 0;
    int mode = (readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC;
    // CreateAlways truncates only once the lock is held, so a file that someone
    // else has open is refused intact, as a sharing violation leaves it.
    if (flags & (CreateAlways | OpenAlways))
        mode |= O_CREAT;
    int fd = ::open(name, mode, 0644);
    int error = fd < 0 ? errno : 0;

    // Sharing as the Windows share modes have it: readers share with readers,
    // a writer shares with nobody. Advisory, so it binds only cooperating openers.
    if (fd >= 0 && flock(fd, (readOnly ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0) {
        // A file system without flock support is used unlocked.
        if (errno == EWOULDBLOCK) {
            error = EWOULDBLOCK;
            ::close(fd);
            fd = -1;
        }
    }
    if (fd >= 0 && (flags & CreateAlways) && ftruncate(fd, 0) != 0) {
        error = errno;
        ::close(fd);
        fd = -1;
    }

    handle = fd;
    state = (fd >= 0 ? uint32_t(Open) : 0u) | (readOnly ? uint32_t(ReadOnlyState) : 0u);
    if (fd < 0) {
        lastError = error == ENOENT ? 1 : error == EWOULDBLOCK ? 2 : -1;
        systemError = error;
    }
    baseOffset = 0;
    return fd >= 0;
}

void ImageFile::close()
{
    if (!isOpen())
        return;
    ::close(int(handle));
    handle = -1;
    state = 0;
}

int ImageFile::read(void* buffer, int length)
{
    if (!isOpen() || length < 0)
        return -1;
    char* p = static_cast<char*>(buffer);
    int done = 0;
    while (done < length) {
        ssize_t n = ::read(int(handle), p + done, size_t(length - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            systemError = errno;
            return -1;
        }
        if (n == 0)
            break;
        done += int(n);
    }
    return done;
}

int ImageFile::write(const void* buffer, int length)
{
    if (!isOpen() || (state & ReadOnlyState) || length < 0)
        return -1;
    const char* p = static_cast<const char*>(buffer);
    int done = 0;
    while (done < length) {
        ssize_t n = ::write(int(handle), p + done, size_t(length - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            systemError = n < 0 ? errno : ENOSPC;
            return -1;
        }
        done += int(n);
    }
    return done;
}

bool ImageFile::seek(int32_t offset, int origin)
{
    if (!isOpen())
        return false;
    int fd = int(handle);
    int64_t from;
    switch (origin) {
    case SeekFromImage: from = baseOffset; break;
    case SeekFromCurrent: from = lseek(fd, 0, SEEK_CUR); break;
    case SeekFromEnd: {
        struct stat info;
        from = fstat(fd, &info) == 0 ? int64_t(info.st_size) : -1;
        break;
    }
    default: return false;
    }
    // Positions are signed 32-bit; a target outside them fails as on Windows,
    // where the pointer is moved by the low 32 bits only.
    int64_t target = from + offset;
    if (from < 0 || target < 0 || target > INT32_MAX) {
        systemError = EINVAL;
        return false;
    }
    if (lseek(fd, off_t(target), SEEK_SET) != off_t(target)) {
        systemError = errno;
        return false;
    }
    return true;
}

int32_t ImageFile::tell()
{
    if (!isOpen())
        return 0;
    off_t position = lseek(int(handle), 0, SEEK_CUR);
    if (position < 0)
        return 0;
    return int32_t(int64_t(position) - baseOffset);
}

bool ImageFile::truncateHere()
{
    if (!isOpen() || (state & ReadOnlyState))
        return false;
    off_t position = lseek(int(handle), 0, SEEK_CUR);
    return position >= 0 && ftruncate(int(handle), position) == 0;
}

bool ImageFile::replace(const char* from, const char* to, int* systemError)
{
    if (::rename(from, to) == 0)
        return true;
    *systemError = errno;
    return false;
}

void ImageFile::remove(const char* path)
{
    ::unlink(path);
}
