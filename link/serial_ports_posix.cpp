#include "link/serial_ports.h"

#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

namespace {

bool startsWith(const std::string& s, const char* prefix)
{
    return s.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

std::vector<std::string> entries(const char* dir)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(dir)) {
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] != '.')
                names.push_back(e->d_name);
        }
        closedir(d);
    }
    return names;
}

// The kernel lists every ttyS it reserved, most of them without hardware
// behind them; its port type says which have a UART (0 is "unknown").
bool hasUart(const std::string& name)
{
    std::ifstream type("/sys/class/tty/" + name + "/type");
    int value = 0;
    return type && (type >> value) && value != 0;
}

std::string groupName(gid_t gid)
{
    struct group g;
    struct group* found = nullptr;
    char buffer[4096];
    if (getgrgid_r(gid, &g, buffer, sizeof buffer, &found) == 0 && found)
        return found->gr_name;
    return "";
}

bool groupExists(const char* name)
{
    struct group g;
    struct group* found = nullptr;
    char buffer[4096];
    return getgrnam_r(name, &g, buffer, sizeof buffer, &found) == 0 && found;
}

} // namespace

std::vector<std::string> listSerialPorts()
{
    std::vector<std::string> ports;
    for (const std::string& name : entries("/dev/serial/by-id"))
        ports.push_back("/dev/serial/by-id/" + name);
    for (const std::string& name : entries("/dev")) {
        if (startsWith(name, "ttyUSB") || startsWith(name, "ttyACM") || startsWith(name, "cu.") ||
            (startsWith(name, "ttyS") && hasUart(name)))
            ports.push_back("/dev/" + name);
    }
    std::sort(ports.begin(), ports.end());
    return ports;
}

std::string deviceGroup(const std::string& device)
{
    struct stat info;
    if (stat(device.c_str(), &info) == 0 && info.st_gid != 0) {
        const std::string name = groupName(info.st_gid);
        if (!name.empty())
            return name;
    }
    // Debian and its kin call the serial group dialout, others uucp.
    if (groupExists("dialout"))
        return "dialout";
    if (groupExists("uucp"))
        return "uucp";
    return "";
}

DeviceAccess deviceAccess(const std::string& device)
{
    DeviceAccess access;
    struct stat info;
    if (stat(device.c_str(), &info) != 0)
        return access;
    const mode_t rw = S_IRGRP | S_IWGRP;
    // Group root is no group to join for a serial port.
    if ((info.st_mode & rw) == rw && info.st_gid != 0) {
        access.group = groupName(info.st_gid);
        access.kind = access.group.empty() ? DeviceAccess::Other : DeviceAccess::Group;
        return access;
    }
    if ((info.st_mode & (S_IROTH | S_IWOTH)) == (S_IROTH | S_IWOTH) ||
        (info.st_mode & rw) == rw) {
        access.kind = DeviceAccess::Other;
        return access;
    }
    struct passwd pw;
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(info.st_uid, &pw, buffer, sizeof buffer, &found) == 0 && found)
        access.owner = found->pw_name;
    else
        access.owner = std::to_string(info.st_uid);
    access.kind = DeviceAccess::OwnerOnly;
    return access;
}
