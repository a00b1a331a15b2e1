#include "link/serial_ports.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

std::vector<std::string> listSerialPorts()
{
    // Every DOS device name the system knows, NUL-separated; the COM ports are
    // those named COM<number>.
    std::vector<char> names(65536);
    std::vector<std::string> ports;
    DWORD n = QueryDosDeviceA(/*lpDeviceName=*/nullptr, names.data(), DWORD(names.size()));
    for (DWORD i = 0; i < n && names[i];) {
        std::string name(&names[i]);
        i += DWORD(name.size() + 1);
        if (name.size() > 3 && name.compare(0, 3, "COM") == 0 &&
            name.find_first_not_of("0123456789", 3) == std::string::npos)
            ports.push_back(name);
    }
    std::sort(ports.begin(), ports.end(), [](const std::string& a, const std::string& b) {
        return std::atoi(a.c_str() + 3) < std::atoi(b.c_str() + 3);
    });
    return ports;
}

std::string deviceGroup(const std::string&)
{
    return "";
}

DeviceAccess deviceAccess(const std::string&)
{
    return DeviceAccess();
}
