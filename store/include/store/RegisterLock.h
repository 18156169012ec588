#pragma once

#include <string>

// One program per register: an exclusive lock (flock) on "<register>.lock" beside it, held
// while the object lives and released by the kernel when the process ends in any way, so
// that a killed program never blocks the next start.
class CRegisterLock {
public:
    CRegisterLock() = default;
    ~CRegisterLock();
    CRegisterLock(const CRegisterLock&) = delete;
    CRegisterLock& operator=(const CRegisterLock&) = delete;

    enum class Result { Locked, HeldElsewhere, Failed };
    // Takes the lock of the register at `registerPath`, creating the lock file if needed.
    // `error` says why on failure.
    Result Acquire(const std::string& registerPath, std::string& error);
    void Release();

    static std::string LockPath(const std::string& registerPath) { return registerPath + ".lock"; }

private:
    int m_fd = -1;
};

// Whether a program holds the lock of the register at `registerPath` now (a lock file that
// does not exist is held by nobody; nothing is created).
bool IsRegisterLocked(const std::string& registerPath);

// Removes what saves killed midway left beside the register: its temporary files
// ("<register>.tmp-XXXXXX", and those of its backup and journal). Only while the lock is held.
// Returns how many were removed.
int RemoveStaleTempFiles(const std::string& registerPath);
