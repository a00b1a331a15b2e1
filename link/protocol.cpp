#include "link/protocol.h"

namespace wire {

const char* linkCodeName(int code)
{
    switch (code) {
    case kOk: return "success";
    case kNoPort: return "port not available";
    case kIoError: return "time-out or line error";
    case kBadVersion: return "agent version mismatch";
    case kProtocolError: return "protocol error";
    case kCrcMismatch: return "CRC mismatch";
    case kBadMethod: return "unsupported compression";
    default: return "unknown";
    }
}

} // namespace wire
