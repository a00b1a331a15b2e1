#include "link/disk_client.h"

DiskClient::DiskClient() : PacketLink()
{
    fastReceive = true;
}

int DiskClient::connect(int port, int speed, bool allowFast, const char* path)
{
    const int code = PacketLink::connect(port, speed, path);
    // Double-speed replies need an agent that can change its rate, and 38400 bps
    // is the only doubled rate the line offers.
    fastReceive = caps.variableRateSerial != 0 && speed == 19200 ? allowFast : false;
    return code;
}
