#pragma once

#include <string>

// The settings file "set.ini" beside the executable: section "set" with the port number
// "com" and the system password "pass".
constexpr const char* kSettingsFileName = "set.ini";
constexpr const char* kDefaultSysPassword = "5820463917";

struct AppSettings {
    int comPort = 0;
    std::string sysPassword;
};

// "com" as atoi reads it (0 when missing or empty); "pass" as it stands, or the default
// password when missing or empty. At most 99 characters of each value are seen.
AppSettings ReadSettings(const std::string& settingsPath);

// Writes "pass" into section "set", keeping the rest of the file.
bool WritePassword(const std::string& settingsPath, const std::string& password,
                   std::string& error);

// Writes "com" into section "set", keeping the rest of the file.
bool WriteComPort(const std::string& settingsPath, int comPort, std::string& error);

// The folder of the running executable, ending in '/'.
std::string ExecutableDir();
