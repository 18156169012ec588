#include "base/SafeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include <vector>

#include "base/PosixIo.h"

namespace {

std::string Describe(const char* what, const std::string& path, int err) {
    return std::string(what) + " " + path + ":" + ErrnoText(err);
}

mode_t DefaultFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// A temporary file beside `target`; returns its descriptor or -1 with errno set.
int CreateTempBeside(const std::string& target, std::string& tempPath) {
    std::vector<char> name(target.begin(), target.end());
    const std::string suffix = ".tmp-XXXXXX";
    name.insert(name.end(), suffix.begin(), suffix.end());
    name.push_back('\0');
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) {
        tempPath.assign(name.data());
    }
    return fd;
}

// The temporary file that is to replace `path` (a plain file or none yet), with the mode the
// result should have: the existing file's, else the usual one. -1 with `error` on failure.
int CreateReplacementOf(const std::string& path, std::string& tempPath, std::string& error) {
    struct stat existing {};
    const bool exists = ::stat(path.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) {
        error = "无法保存 " + path + ":这不是一个普通文件";
        return -1;
    }
    const int fd = CreateTempBeside(path, tempPath);
    if (fd < 0) {
        error = Describe("无法在文件夹中创建文件", path, errno);
        return -1;
    }
    ::fchmod(fd, exists ? (existing.st_mode & 07777) : DefaultFileMode());
    return fd;
}

// Flushes and closes `fd`; on failure sets error, closes anyway and returns false.
bool SyncAndClose(int fd, const std::string& path, std::string& error) {
    if (Io().fsync(fd) != 0) {
        const int err = errno;
        Io().close(fd);
        error = Describe("无法把数据写入磁盘", path, err);
        return false;
    }
    if (Io().close(fd) != 0) {
        error = Describe("关闭文件失败", path, errno);
        return false;
    }
    return true;
}

bool CopyInto(int from, int to, const std::string& fromPath, const std::string& toPath,
              std::string& error) {
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        const ssize_t n = ::read(from, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error = Describe("读取文件失败", fromPath, errno);
            return false;
        }
        if (n == 0) {
            return true;
        }
        if (!WriteAll(to, buffer.data(), static_cast<size_t>(n))) {
            error = Describe("写入文件失败", toPath, errno);
            return false;
        }
    }
}

// Puts a second name on the file at `path` beside the backup. The file is replaced by rename
// afterwards, never written in place, so its old content stays under that name. False where
// the file system has no hard links (or `path` is not a plain file); then it is copied.
bool LinkForBackup(const std::string& path, const std::string& backupPath, std::string& tempPath) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        // A name that is free now; link() refuses to replace one taken meanwhile.
        const int fd = CreateTempBeside(backupPath, tempPath);
        if (fd < 0) {
            return false;
        }
        ::close(fd);
        ::unlink(tempPath.c_str());
        if (Io().link(path.c_str(), tempPath.c_str()) == 0) {
            return true;
        }
        if (errno != EEXIST) {
            return false;
        }
    }
    return false;
}

// Copies `path` through a temporary file; returns the temporary file's name.
bool CopyForBackup(const std::string& path, const std::string& backupPath, std::string& tempPath,
                   std::string& error) {
    const int source = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (source < 0) {
        if (errno == ENOENT) {
            return true;
        }
        error = Describe("无法打开要备份的文件", path, errno);
        return false;
    }
    struct stat st {};
    const mode_t mode = ::fstat(source, &st) == 0 ? (st.st_mode & 07777) : DefaultFileMode();
    const int temp = CreateTempBeside(backupPath, tempPath);
    if (temp < 0) {
        error = Describe("无法创建备份文件", backupPath, errno);
        ::close(source);
        return false;
    }
    ::fchmod(temp, mode);
    const bool copied = CopyInto(source, temp, path, backupPath, error);
    ::close(source);
    if (!copied) {
        Io().close(temp);
        ::unlink(tempPath.c_str());
        return false;
    }
    if (!SyncAndClose(temp, backupPath, error)) {
        ::unlink(tempPath.c_str());
        return false;
    }
    return true;
}

// Replaces the backup with the current content of `path` (a hard link where possible, else a
// copy), never deleting the old backup first. A missing `path` is no error.
bool MakeBackup(const std::string& path, const std::string& backupPath, std::string& error) {
    std::string tempPath;
    if (!LinkForBackup(path, backupPath, tempPath)) {
        tempPath.clear();
        if (!CopyForBackup(path, backupPath, tempPath, error)) {
            return false;
        }
        if (tempPath.empty()) {
            return true;  // no file yet
        }
    }
    if (Io().rename(tempPath.c_str(), backupPath.c_str()) != 0) {
        error = Describe("无法替换备份文件", backupPath, errno);
        ::unlink(tempPath.c_str());
        return false;
    }
    return true;
}

bool SyncDirectory(const std::string& dir, std::string& error) {
    const std::string name = dir.empty() ? "." : dir;
    const int fd = ::open(name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        error = Describe("无法打开文件夹", name, errno);
        return false;
    }
    // Some file systems cannot flush a folder; the rename itself has happened then.
    if (Io().fsync(fd) != 0 && errno != EINVAL && errno != ENOTSUP) {
        error = Describe("无法把文件夹写入磁盘", name, errno);
        ::close(fd);
        return false;
    }
    ::close(fd);
    return true;
}

}  // namespace

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool SaveFileSafely(const std::string& path, const std::string& backupPath,
                    const ContentWriter& writeContent, std::string& error) {
    return SaveFileSafely(path, backupPath, writeContent, error, BeforeReplace());
}

bool SaveFileSafely(const std::string& path, const std::string& backupPath,
                    const ContentWriter& writeContent, std::string& error,
                    const BeforeReplace& beforeReplace) {
    std::string tempPath;
    const int fd = CreateReplacementOf(path, tempPath, error);
    if (fd < 0) {
        return false;
    }
    if (!writeContent(fd, error)) {
        Io().close(fd);
        ::unlink(tempPath.c_str());
        return false;
    }
    if (!SyncAndClose(fd, tempPath, error)) {
        ::unlink(tempPath.c_str());
        return false;
    }
    if (beforeReplace && !beforeReplace(error)) {
        ::unlink(tempPath.c_str());
        return false;
    }
    if (!backupPath.empty() && !MakeBackup(path, backupPath, error)) {
        ::unlink(tempPath.c_str());
        return false;
    }
    if (Io().rename(tempPath.c_str(), path.c_str()) != 0) {
        error = Describe("无法替换文件", path, errno);
        ::unlink(tempPath.c_str());
        return false;
    }
    return SyncDirectory(DirectoryOf(path), error);
}

bool CopyFileSafely(const std::string& from, const std::string& to, std::string& error) {
    const int source = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (source < 0) {
        error = Describe("无法打开文件", from, errno);
        return false;
    }
    const bool copied = SaveFileSafely(
        to, std::string(),
        [&](int fd, std::string& copyError) { return CopyInto(source, fd, from, to, copyError); },
        error);
    ::close(source);
    return copied;
}

CFileReplacement::~CFileReplacement() {
    Discard();
}

bool CFileReplacement::Open(const std::string& path, std::string& error) {
    Discard();
    std::string tempPath;
    const int fd = CreateReplacementOf(path, tempPath, error);
    if (fd < 0) {
        return false;
    }
    m_strPath = path;
    m_strTempPath = std::move(tempPath);
    m_fd = fd;
    return true;
}

bool CFileReplacement::Commit(std::string& error) {
    if (m_fd < 0) {
        error = "没有要保存的文件";
        return false;
    }
    const int fd = m_fd;
    m_fd = -1;
    bool replaced = SyncAndClose(fd, m_strTempPath, error);
    if (replaced && Io().rename(m_strTempPath.c_str(), m_strPath.c_str()) != 0) {
        error = Describe("无法替换文件", m_strPath, errno);
        replaced = false;
    }
    if (!replaced) {
        Discard();
        return false;
    }
    m_strTempPath.clear();
    return SyncDirectory(DirectoryOf(m_strPath), error);
}

void CFileReplacement::Discard() {
    if (m_fd >= 0) {
        Io().close(m_fd);
        m_fd = -1;
    }
    if (!m_strTempPath.empty()) {
        ::unlink(m_strTempPath.c_str());
        m_strTempPath.clear();
    }
}
