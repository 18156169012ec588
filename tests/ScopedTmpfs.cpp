#include "ScopedTmpfs.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

ScopedTmpfs::~ScopedTmpfs() {
    if (m_bMounted) {
        ::umount2(m_path.c_str(), MNT_DETACH);
    }
    if (!m_path.empty()) {
        ::rmdir(m_path.c_str());
    }
}

void ScopedTmpfs::Mount(size_t bytes) {
    char name[] = "/tmp/orvane-tmpfs-XXXXXX";
    ASSERT_NE(::mkdtemp(name), nullptr) << std::strerror(errno);
    m_path = std::string(name) + "/";
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
    if (::mount("tmpfs", name, "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC, options.c_str()) != 0) {
        const int err = errno;
        if (err == EPERM) {
            GTEST_SKIP() << "mounting a tmpfs is not permitted here (it needs root): "
                         << "the full-disk cases are not run";
        }
        FAIL() << "mount tmpfs on " << name << ": " << std::strerror(err);
    }
    m_bMounted = true;
}

size_t ScopedTmpfs::FreeBytes() const {
    struct statvfs fs {};
    if (::statvfs(m_path.c_str(), &fs) != 0) {
        ADD_FAILURE() << "statvfs " << m_path << ": " << std::strerror(errno);
        return 0;
    }
    return static_cast<size_t>(fs.f_bavail) * fs.f_frsize;
}

void ScopedTmpfs::LeaveFree(size_t bytes, const std::string& name) {
    ASSERT_TRUE(m_bMounted);
    const size_t free = FreeBytes();
    ASSERT_GE(free, bytes);
    const int fd = ::open((m_path + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    const std::vector<char> chunk(64 * 1024, 'f');
    for (size_t left = free - bytes; left > 0;) {
        const ssize_t n = ::write(fd, chunk.data(), std::min(left, chunk.size()));
        if (n <= 0) {
            const int err = errno;
            ::close(fd);
            FAIL() << "filling " << m_path << ": " << std::strerror(err);
        }
        left -= static_cast<size_t>(n);
    }
    ::close(fd);
    ASSERT_EQ(FreeBytes(), bytes);
}
