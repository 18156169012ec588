#include "base/DataDir.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "base/PosixIo.h"

namespace {

constexpr const char* kDataFolderName = "orvane/";

bool IsAbsolute(const std::string& path) {
    return !path.empty() && path.front() == '/';
}

std::string WithSlash(std::string dir) {
    if (dir.empty() || dir.back() != '/') {
        dir += '/';
    }
    return dir;
}

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// $HOME when absolute, else the home of the real user in the password database.
std::string HomeDir() {
    std::string home = Env("HOME");
    if (IsAbsolute(home)) {
        return home;
    }
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr) {
        home = found->pw_dir;
    }
    return home;
}

}  // namespace

bool IsSystemDir(const std::string& dir) {
    const std::string d = WithSlash(dir);
    return d.rfind("/usr/", 0) == 0 || d == "/bin/" || d == "/sbin/";
}

std::string UserDataHome(const std::string& xdgDataHome, const std::string& home) {
    if (IsAbsolute(xdgDataHome)) {
        return WithSlash(xdgDataHome);
    }
    if (IsAbsolute(home)) {
        return WithSlash(home) + ".local/share/";
    }
    return std::string();
}

DataDirChoice ChooseDataDir(const DataDirFacts& facts) {
    const std::string exeDir = WithSlash(facts.exeDir);
    if (facts.registerBesideExe || (facts.exeDirWritable && !IsSystemDir(exeDir))) {
        return {exeDir, true};
    }
    const std::string dataHome = UserDataHome(facts.xdgDataHome, facts.home);
    if (dataHome.empty()) {
        return {exeDir, true};
    }
    return {dataHome + kDataFolderName, false};
}

DataDirFacts ReadDataDirFacts(const std::string& exeDir, const std::string& registerName) {
    DataDirFacts facts;
    facts.exeDir = WithSlash(exeDir);
    facts.exeDirWritable = ::access(facts.exeDir.c_str(), W_OK | X_OK) == 0;
    struct stat st {};
    facts.registerBesideExe = ::lstat((facts.exeDir + registerName).c_str(), &st) == 0;
    facts.xdgDataHome = Env("XDG_DATA_HOME");
    facts.home = HomeDir();
    return facts;
}

bool MakeDataDir(const std::string& dir, std::string& error) {
    if (!IsAbsolute(dir)) {
        error = "不是绝对路径: " + dir;
        return false;
    }
    const std::string path = WithSlash(dir);
    for (size_t end = path.find('/', 1); end != std::string::npos; end = path.find('/', end + 1)) {
        const std::string part = path.substr(0, end);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            error = part + ": " + ErrnoText(errno);
            return false;
        }
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        error = path + ": " + ErrnoText(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        error = path + ": " + ErrnoText(ENOTDIR);
        return false;
    }
    return true;
}
