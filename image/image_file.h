#pragma once
// ImageFile: the one file abstraction (images, ROM files, the loader). Its base
// offset makes image positions count from the start of the image that
// selectImage chose inside a multi-image file.
#include <cstdint>

class ImageFile {
public:
    enum Flags : unsigned {
        ReadOnly = 2,       // read access, others may read too; write refuses
        CreateAlways = 4,   // create, truncating an existing file
        OpenAlways = 8,     // open, creating a missing file; never truncates
    };
    enum Origin : int { SeekFromImage = 0, SeekFromCurrent = 1, SeekFromEnd = 2 };
    enum State : uint32_t { Open = 1, ReadOnlyState = 2 };

    ImageFile();
    ImageFile(const char* path, unsigned flags);
    virtual ~ImageFile();
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;

    bool open(const char* path, unsigned flags);
    void close();
    // Bytes read (short at the end of the file), or -1 when closed or failing.
    int read(void* buffer, int length);
    // Bytes written, or -1 when closed, read-only or failing.
    int write(const void* buffer, int length);
    // False when closed, for an unknown origin, or when the system refuses.
    bool seek(int32_t offset, int origin);
    // Current position minus baseOffset; 0 when closed.
    int32_t tell();
    // Cuts the file at the current position (used when a new image replaces a
    // longer interrupted one). False when closed, read-only or failing.
    bool truncateHere();

    bool isOpen() const { return (state & Open) != 0; }

    // Puts the closed file from in the place of to, replacing it in one step
    // (a reader sees the old file or the new one, never a part). False with
    // *systemError set when the system refuses.
    static bool replace(const char* from, const char* to, int* systemError);
    // Deletes path; a missing file is no failure.
    static void remove(const char* path);

    intptr_t handle = -1;
    uint32_t state = 0;
    int32_t baseOffset = 0;
    int32_t lastError = 0;      // 1 not found, 2 sharing violation, -1 other
    int systemError = 0;        // errno / GetLastError of the last failed call
};
