#pragma once
// What the machine offers when a port cannot be opened: the serial ports that
// exist, and the group whose members may open a device.
#include <string>
#include <vector>

// The serial ports of this machine as the user names them: COM3 on Windows;
// /dev/serial/by-id/..., /dev/ttyUSB0, /dev/ttyACM0 and the /dev/ttyS# that
// have a UART on Linux; /dev/cu.* on macOS. Sorted; empty when none.
std::vector<std::string> listSerialPorts();

// The group that may open device (its group on POSIX, e.g. "dialout" or
// "uucp"); "" on Windows or when nothing can be told.
std::string deviceGroup(const std::string& device);

// Who may open a device, as its owner, group and mode bits say.
struct DeviceAccess {
    enum Kind {
        Unknown,     // nothing can be told (no such device, Windows)
        Group,       // its group may read and write it: join `group`
        OwnerOnly,   // only `owner` (and root) may open it
        Other,       // the bits allow more; something else refused (an ACL, a policy)
    } kind = Unknown;
    std::string group;
    std::string owner;
};
DeviceAccess deviceAccess(const std::string& device);
