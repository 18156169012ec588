#include "base/Settings.h"

#include <unistd.h>

#include <string_view>
#include <vector>

#include "base/ProfileFile.h"

namespace {

constexpr const char* kSection = "set";
constexpr const char* kComKey = "com";
constexpr const char* kPassKey = "pass";
constexpr const char* kRegisterSection = "register";
constexpr const char* kPlaceKey = "place";
constexpr const char* kConninfoKey = "conninfo";
constexpr const char* kOnServer = "server";
constexpr const char* kInFile = "file";

}  // namespace

AppSettings ReadSettings(const std::string& settingsPath) {
    AppSettings settings;
    settings.comPort = ProfileInt(GetProfileString(settingsPath, kSection, kComKey, ""));
    settings.sysPassword = GetProfileString(settingsPath, kSection, kPassKey, "");
    if (settings.sysPassword.empty()) {
        settings.sysPassword = kDefaultSysPassword;
    }
    return settings;
}

bool WritePassword(const std::string& settingsPath, const std::string& password,
                   std::string& error) {
    return WriteProfileString(settingsPath, kSection, kPassKey, password, error);
}

bool WriteComPort(const std::string& settingsPath, int comPort, std::string& error) {
    return WriteProfileString(settingsPath, kSection, kComKey, std::to_string(comPort), error);
}

RegisterPlace ReadRegisterPlace(const std::string& settingsPath) {
    RegisterPlace place;
    place.onServer = GetProfileString(settingsPath, kRegisterSection, kPlaceKey, "") == kOnServer;
    place.conninfo =
        GetProfileString(settingsPath, kRegisterSection, kConninfoKey, "", kMaxConninfoLength + 1);
    return place;
}

bool WriteRegisterPlace(const std::string& settingsPath, const RegisterPlace& place,
                        std::string& error) {
    if (place.conninfo.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
        error = "连接字符串不能含有换行";
        return false;
    }
    if (place.conninfo.size() > kMaxConninfoLength) {
        error = "连接字符串超过" + std::to_string(kMaxConninfoLength) + "个字符";
        return false;
    }
    // In quotes, which the reader takes off, so that blanks and quotes at either end survive.
    return WriteProfileString(settingsPath, kRegisterSection, kConninfoKey,
                              "\"" + place.conninfo + "\"", error) &&
           WriteProfileString(settingsPath, kRegisterSection, kPlaceKey,
                              place.onServer ? kOnServer : kInFile, error);
}

std::string ExecutableDir() {
    std::vector<char> path(4096);
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
        if (n < 0) {
            return "./";
        }
        if (static_cast<size_t>(n) < path.size()) {
            const std::string full(path.data(), static_cast<size_t>(n));
            return full.substr(0, full.rfind('/') + 1);
        }
        path.resize(path.size() * 2);
    }
}
