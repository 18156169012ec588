#include "store/RegisterLock.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <cerrno>

#include "base/PosixIo.h"
#include "base/SafeFile.h"

namespace {

// "<name>.tmp-" and the six characters mkstemp puts in.
bool IsTempOf(const std::string& entry, const std::string& name) {
    const std::string prefix = name + ".tmp-";
    if (entry.size() != prefix.size() + 6 || entry.compare(0, prefix.size(), prefix) != 0) {
        return false;
    }
    for (size_t i = prefix.size(); i < entry.size(); ++i) {
        const char c = entry[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) {
            return false;
        }
    }
    return true;
}

}  // namespace

CRegisterLock::~CRegisterLock() {
    Release();
}

CRegisterLock::Result CRegisterLock::Acquire(const std::string& registerPath, std::string& error) {
    Release();
    const std::string path = LockPath(registerPath);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = "无法打开 " + path + ":" + ErrnoText(errno);
        return Result::Failed;
    }
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) {
            continue;
        }
        const int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK) {
            return Result::HeldElsewhere;
        }
        error = "无法锁定 " + path + ":" + ErrnoText(err);
        return Result::Failed;
    }
    m_fd = fd;
    return Result::Locked;
}

void CRegisterLock::Release() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

bool IsRegisterLocked(const std::string& registerPath) {
    const int fd = ::open(CRegisterLock::LockPath(registerPath).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    bool locked = false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        locked = errno == EWOULDBLOCK;
    }
    ::close(fd);
    return locked;
}

int RemoveStaleTempFiles(const std::string& registerPath) {
    const std::string dir = DirectoryOf(registerPath);
    const std::string name = registerPath.substr(dir.size());
    DIR* folder = ::opendir(dir.empty() ? "." : dir.c_str());
    if (folder == nullptr) {
        return 0;
    }
    int removed = 0;
    while (const dirent* entry = ::readdir(folder)) {
        const std::string entryName = entry->d_name;
        if (IsTempOf(entryName, name) || IsTempOf(entryName, name + ".old") ||
            IsTempOf(entryName, name + ".journal")) {
            if (::unlinkat(::dirfd(folder), entryName.c_str(), 0) == 0) {
                ++removed;
            }
        }
    }
    ::closedir(folder);
    return removed;
}
