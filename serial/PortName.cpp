#include "serial/PortName.h"

#include <sys/stat.h>

std::string ComDeviceName(int comPort) {
    const std::string number = std::to_string(comPort);
    return static_cast<unsigned>(comPort) < 10 ? "COM" + number : "\\\\.\\COM" + number;
}

std::string ResolveComDevice(const std::string& appDir, int comPort) {
    std::string entry = ComDeviceName(comPort);
    const std::string longPrefix = "\\\\.\\";
    if (entry.rfind(longPrefix, 0) == 0) {
        entry.erase(0, longPrefix.size());
    }
    const std::string local = appDir + entry;
    struct stat st {};
    if (::lstat(local.c_str(), &st) == 0 || comPort < 1) {
        return local;
    }
    return "/dev/ttyS" + std::to_string(comPort - 1);
}
