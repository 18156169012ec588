#pragma once

#include <cstdlib>
#include <fstream>
#include <string>

// Resident memory of this process in KiB; -1 where it cannot be read.
inline long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return -1;
}
