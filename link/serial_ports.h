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
