#pragma once

#include <cstddef>
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

// Where the card register is kept: section "register" of set.ini, key "place" ("server" for
// a PostgreSQL server, anything else or nothing for the register file) and key "conninfo"
// (the server's libpq connection string, never with a password).
struct RegisterPlace {
    bool onServer = false;
    std::string conninfo;
};

// The longest connection string that set.ini holds.
constexpr size_t kMaxConninfoLength = 4095;

RegisterPlace ReadRegisterPlace(const std::string& settingsPath);

// Writes "place" and "conninfo" into section "register", keeping the rest of the file. A
// connection string that would not read back exactly as it is (a line break, longer than
// kMaxConninfoLength) is refused with `error` and nothing is written.
bool WriteRegisterPlace(const std::string& settingsPath, const RegisterPlace& place,
                        std::string& error);

// The folder of the running executable, ending in '/'.
std::string ExecutableDir();
