#pragma once

#include <cstddef>
#include <string>

// A small tmpfs mounted on a fresh folder for as long as the object lives: a file system
// that really runs full, for tests of writes that meet a full disk. Mounting needs root;
// where mount(2) is refused with EPERM the current test is skipped. Call Mount in SetUp or
// first thing in a test: after a skip or a failure there, the test body does not go on.
class ScopedTmpfs {
public:
    ScopedTmpfs() = default;
    // Unmounts lazily (a file still open does not keep the folder) and removes the folder.
    ~ScopedTmpfs();
    ScopedTmpfs(const ScopedTmpfs&) = delete;
    ScopedTmpfs& operator=(const ScopedTmpfs&) = delete;

    // Mounts a tmpfs of `bytes` (whole pages); skips the test on EPERM, fails it otherwise.
    void Mount(size_t bytes);
    bool mounted() const { return m_bMounted; }
    // The folder, ending in '/'.
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + name; }

    // The bytes that a file may still take.
    size_t FreeBytes() const;
    // Writes the file `name` until only `bytes` (whole pages) are free; fails the test when
    // the file system does not come out with exactly that.
    void LeaveFree(size_t bytes, const std::string& name = "filler");

private:
    std::string m_path;
    bool m_bMounted = false;
};
