#include "base/PosixIo.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>

PosixIo& Io() {
    static PosixIo io{::write, ::fsync, ::fdatasync, ::ftruncate, ::rename, ::close, ::link};
    return io;
}

bool WriteAll(int fd, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = Io().write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void StartWriteback(int fd, off_t offset, off_t size) {
#ifdef SYNC_FILE_RANGE_WRITE
    ::sync_file_range(fd, offset, size, SYNC_FILE_RANGE_WRITE);
#else
    (void)fd;
    (void)offset;
    (void)size;
#endif
}

bool ReadAll(int fd, void* data, size_t size) {
    char* p = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = ::read(fd, p, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = 0;
            }
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

std::string ErrnoText(int err) {
    const char* text = nullptr;
    switch (err) {
        case EACCES:
        case EPERM:
            text = "没有访问权限";
            break;
        case ENOENT:
            text = "文件或文件夹不存在";
            break;
        case ENOSPC:
        case EDQUOT:
            text = "磁盘空间不足";
            break;
        case EROFS:
            text = "文件系统是只读的";
            break;
        case EIO:
            text = "磁盘读写错误";
            break;
        case EISDIR:
            text = "这是一个文件夹";
            break;
        case EBUSY:
            text = "文件正被占用";
            break;
        case EBADF:
            text = "无效的文件";
            break;
        default:
            break;
    }
    char code[32];
    std::snprintf(code, sizeof code, " (errno %d)", err);
    return (text != nullptr ? std::string(text) : std::string(std::strerror(err))) + code;
}
