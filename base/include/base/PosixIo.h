#pragma once

#include <sys/types.h>

#include <string>

// The POSIX calls through which files are written. Tests swap entries to provoke the
// failures (a full disk, a failing fsync or rename) that a real machine rarely shows.
struct PosixIo {
    ssize_t (*write)(int fd, const void* buf, size_t count);
    int (*fsync)(int fd);
    int (*fdatasync)(int fd);
    int (*ftruncate)(int fd, off_t length);
    int (*rename)(const char* from, const char* to);
    int (*close)(int fd);
    int (*link)(const char* from, const char* to);
};

PosixIo& Io();

// Restores the real calls when it goes out of scope.
class ScopedIoOverride {
public:
    ScopedIoOverride() : m_saved(Io()) {}
    ~ScopedIoOverride() { Io() = m_saved; }
    ScopedIoOverride(const ScopedIoOverride&) = delete;
    ScopedIoOverride& operator=(const ScopedIoOverride&) = delete;

private:
    PosixIo m_saved;
};

// write() until all bytes are written; retries on EINTR. False with errno set on failure.
bool WriteAll(int fd, const void* data, size_t size);

// Asks the kernel to start writing `size` bytes at `offset` of the file to disk without
// waiting for them, so that a later fsync has less left to do. Advice: does nothing where
// the system has no such call.
void StartWriteback(int fd, off_t offset, off_t size);

// read() until `size` bytes are read; retries on EINTR. False on failure, with errno set, or
// 0 when the file ends first.
bool ReadAll(int fd, void* data, size_t size);

// A short Chinese text for an errno value, for messages shown to the operator.
std::string ErrnoText(int err);
