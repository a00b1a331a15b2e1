// sio on a Windows COM port: synchronous I/O with the driver's own time-outs.
#include "link/sio.h"

#include <windows.h>

#include "core/console.h"
#include "core/interrupt.h"
#include "core/verbose.h"

struct sio::Platform {
    HANDLE handle = INVALID_HANDLE_VALUE;
    DCB dcb = {};   // read at open; setSpeed changes the rate and keeps the rest
};

sio::sio() : platform(new Platform) {}

sio::~sio()
{
    close();
}

bool sio::isOpen() const
{
    return platform->handle != INVALID_HANDLE_VALUE;
}

int sio::open(int port, unsigned speed, const char* path)
{
    close();
    openProblem = OpenFault::None;
    osError = 0;
    device.clear();
    if (!path && port < 1) {
        openProblem = OpenFault::BadNumber;
        return 2;
    }
    // The device namespace prefix: a bare "COM10" and above does not open, and
    // USB adapters are often numbered there. It opens COM1 to COM9 all the same.
    // 24 bytes hold the prefix and the largest int.
    char name[24];
    if (!path) {
        wsprintfA(name, "\\\\.\\COM%d", port);
        path = name;
        device = name + 4;   // "COM3", as the user knows it
    } else {
        device = path;
    }
    readTimeout = 2000;

    HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, /*dwShareMode=*/0,
                           /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING,
                           /*dwFlagsAndAttributes=*/0, /*hTemplateFile=*/nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        osError = int(GetLastError());
        // A COM port that another program holds answers "access denied".
        switch (osError) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BAD_NETPATH: openProblem = OpenFault::NotFound; break;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION: openProblem = OpenFault::InUse; break;
        default: openProblem = OpenFault::Refused; break;
        }
        return 3;
    }
    platform->handle = h;

    ZeroMemory(&platform->dcb, sizeof platform->dcb);
    platform->dcb.DCBlength = sizeof(DCB);
    GetCommState(h, &platform->dcb);
    if (!setSpeed(speed)) {
        openProblem = OpenFault::BadSettings;
        close();
        return 4;
    }
    PurgeComm(h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    return 0;
}

int sio::close()
{
    if (!isOpen())
        return 0;
    // Input only: WriteFile has already reported the output as sent, and
    // clearing it here dropped the tail of an upload (seen under Wine, and
    // possible with USB adapters whose driver buffers the output).
    PurgeComm(platform->handle, PURGE_RXABORT | PURGE_RXCLEAR);
    CloseHandle(platform->handle);
    platform->handle = INVALID_HANDLE_VALUE;
    return 0;
}

bool sio::setSpeed(unsigned speed)
{
    // Rate 0 would divide by zero in the per-byte allowance; no port takes it.
    if (!isOpen() || speed == 0)
        return false;
    HANDLE h = platform->handle;
    PurgeComm(h, PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);

    DCB& d = platform->dcb;
    d.BaudRate = speed;
    d.ByteSize = 8;
    d.Parity = NOPARITY;
    d.StopBits = ONESTOPBIT;
    d.fBinary = 1;
    d.fParity = 0;
    d.fOutxCtsFlow = 1;
    d.fOutxDsrFlow = 1;
    d.fDtrControl = DTR_CONTROL_ENABLE;
    d.fDsrSensitivity = 0;      // take received bytes whatever DSR says
    d.fTXContinueOnXoff = 0;
    d.fOutX = 1;                // the far end's XOFF stops us
    d.fInX = 0;                 // we never send XOFF
    d.fNull = 0;
    d.fRtsControl = RTS_CONTROL_HANDSHAKE;
    d.fAbortOnError = 0;        // a line error must not block later calls
    bool ok = SetCommState(h, &d) != 0;
    if (!ok)
        osError = int(GetLastError());

    baudRate = speed;
    setReadTimeout(readTimeout);
    return ok;
}

bool sio::setReadTimeout(int ms)
{
    readTimeout = ms;
    const DWORD perByte = perByteAllowance();
    COMMTIMEOUTS t = {};
    t.ReadIntervalTimeout = 0;
    t.ReadTotalTimeoutMultiplier = perByte;
    t.ReadTotalTimeoutConstant = DWORD(ms);
    t.WriteTotalTimeoutMultiplier = perByte;
    t.WriteTotalTimeoutConstant = DWORD(writeTimeoutConstant());
    return SetCommTimeouts(platform->handle, &t) != 0;
}

namespace {

#ifndef ERROR_DEVICE_REMOVED
#define ERROR_DEVICE_REMOVED 1617L
#endif

// A failed ReadFile or WriteFile. Only an adapter that is gone hangs the line
// up: its driver says so (ERROR_DEVICE_NOT_CONNECTED, ERROR_DEVICE_REMOVED),
// or, as usbser.sys does for a handle whose device was pulled out, refuses it
// (ERROR_ACCESS_DENIED). Aborted, failed or refused calls can be passing
// troubles of a driver: the link's retries deal with them.
LineFault failedCall(int error)
{
    switch (error) {
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_ACCESS_DENIED: return LineFault::HungUp;
    default: return LineFault::SystemError;
    }
}

} // namespace

int sio::write(const uint8_t* buffer, int length)
{
    DWORD done = 0;
    bool ok = isOpen() && length >= 0 && !interrupts::abortRequested() &&
              WriteFile(platform->handle, buffer, DWORD(length), &done, nullptr);
    if (!ok && isOpen())
        osError = int(GetLastError());
    written += done;
    if (ok && done == DWORD(length))
        return 0;
    // A write that ends short without an error has run into its time-out.
    fault = interrupts::abortRequested() ? LineFault::Interrupted
            : ok                         ? LineFault::TimedOut
                                         : failedCall(osError);
    if (verbose)
        console::out("sio::write error\n");
    return 1;
}

int sio::read(uint8_t* buffer, int length)
{
    DWORD got = 0;
    // A time-out is not an error to ReadFile: it shows only as a short count.
    bool ok = isOpen() && length >= 0 && !interrupts::abortRequested() &&
              ReadFile(platform->handle, buffer, DWORD(length), &got, nullptr);
    if (!ok && isOpen())
        osError = int(GetLastError());
    if (ok && got == DWORD(length))
        return 0;
    fault = interrupts::abortRequested() ? LineFault::Interrupted
            : ok                         ? LineFault::TimedOut
                                         : failedCall(osError);
    if (verbose)
        console::out("sio::read error\n");
    return 1;
}
