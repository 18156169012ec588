#include "base/Settings.h"

#include <unistd.h>

#include <vector>

#include "base/ProfileFile.h"

namespace {

constexpr const char* kSection = "set";
constexpr const char* kComKey = "com";
constexpr const char* kPassKey = "pass";

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
