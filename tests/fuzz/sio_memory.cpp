// sio over the memory line of memory_line.h: the fuzz build's third sio,
// beside sio_posix.cpp and sio_win32.cpp. It keeps the contract of sio.h
// (open codes and faults, the three rates, exact-count reads, the fault of the
// last failed call, the byte counter) without a device or a clock.
#include "link/sio.h"

#include <algorithm>
#include <cstring>

#include "tests/fuzz/memory_line.h"

struct sio::Platform {
    bool open = false;
};

namespace
{

const uint8_t* lineData = nullptr;
size_t lineSize = 0;
size_t lineRead = 0;

} // namespace

namespace memory_line
{

void load(const uint8_t* data, size_t size)
{
    lineData = data;
    lineSize = size;
    lineRead = 0;
}

size_t remaining()
{
    return lineSize - lineRead;
}

} // namespace memory_line

sio::sio() : platform(new Platform) {}

sio::~sio()
{
    close();
}

bool sio::isOpen() const
{
    return platform->open;
}

int sio::open(int port, unsigned speed, const char* path)
{
    close();
    openProblem = OpenFault::None;
    osError = 0;
    if (!path && port < 1) {
        device.clear();
        openProblem = OpenFault::BadNumber;
        return 2;
    }
    device = path ? path : "memory line";
    readTimeout = 2000;
    platform->open = true;
    if (!setSpeed(speed)) {
        openProblem = OpenFault::BadSettings;
        close();
        return 4;
    }
    return 0;
}

int sio::close()
{
    platform->open = false;
    return 0;
}

bool sio::setSpeed(unsigned speed)
{
    if (!isOpen() || (speed != 9600 && speed != 19200 && speed != 38400))
        return false;
    // A real port drops the input that came at the old rate. Here every byte
    // counts as arriving later, so nothing is dropped.
    baudRate = speed;
    return true;
}

bool sio::setReadTimeout(int ms)
{
    readTimeout = ms;
    return isOpen();
}

int sio::write(const uint8_t* /*buffer*/, int length)
{
    if (!isOpen() || length < 0) {
        fault = LineFault::SystemError;
        return 1;
    }
    written += static_cast<uint64_t>(length);
    return 0;
}

int sio::read(uint8_t* buffer, int length)
{
    if (!isOpen() || length < 0) {
        fault = LineFault::SystemError;
        return 1;
    }
    const size_t n = std::min(static_cast<size_t>(length), memory_line::remaining());
    if (n > 0)
        std::memcpy(buffer, lineData + lineRead, n);
    lineRead += n;
    if (n == static_cast<size_t>(length))
        return 0;
    // The line has run dry: what a real port reports when the deadline passes.
    fault = LineFault::TimedOut;
    return 1;
}
