#pragma once

#include <string>

// The device name of a port number: "COM%d" below 10 (compared as unsigned, so a negative
// number takes the long form), "\\.\COM%d" otherwise.
std::string ComDeviceName(int comPort);

// The device file of a port number. The port's name ("COM3", or "\\.\COM12" from 10 up) is
// looked up as an entry in `appDir` first ("COM3", "COM12": normally a symbolic link to
// /dev/ttyUSB0, /dev/ttyACM0 or the emulator's pseudo-terminal), then taken as
// /dev/ttyS<n-1> for n >= 1. Port 0 and negative ports have only the entry in `appDir`.
std::string ResolveComDevice(const std::string& appDir, int comPort);
