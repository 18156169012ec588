#pragma once

#include <functional>
#include <string>

// Fills a fresh file: returns false and sets `error` when the content could not be written.
using ContentWriter = std::function<bool(int fd, std::string& error)>;

// Replaces `path` with the content written by `writeContent` so that, whatever fails, the
// file is either the complete new content or exactly what it was before:
//   1. the content goes to a temporary file in the same folder and is flushed to disk;
//   2. when `backupPath` is not empty and `path` exists, the current file is given a second,
//      temporary name beside the backup (a hard link; a flushed copy where the file system
//      has no links) that is renamed over the backup, so the old backup is never deleted
//      first and the old content is not written twice;
//   3. the temporary file is renamed over `path` and the folder is flushed.
// A new file takes the usual permissions, an existing one keeps its own. On failure no
// temporary file is left behind and `error` says what failed and where (Chinese text).
bool SaveFileSafely(const std::string& path, const std::string& backupPath,
                    const ContentWriter& writeContent, std::string& error);

// Called once the new content is complete and on disk, before the backup or the file is
// replaced; returning false stops the save there (nothing replaced) with `error` set.
using BeforeReplace = std::function<bool(std::string& error)>;
bool SaveFileSafely(const std::string& path, const std::string& backupPath,
                    const ContentWriter& writeContent, std::string& error,
                    const BeforeReplace& beforeReplace);

// Replaces `to` with a byte copy of `from` in the same safe way (no backup).
bool CopyFileSafely(const std::string& from, const std::string& to, std::string& error);

// The folder part of a path, with its trailing '/' ("" for a bare file name).
std::string DirectoryOf(const std::string& path);

// A new content for `path` that its writer produces through calls of its own: it is written
// under a temporary name in the same folder, and only Commit flushes it and renames it over
// `path`, as SaveFileSafely does. Until then, and after any failure, `path` stays exactly as
// it was; destroyed without a Commit, the temporary file is removed.
class CFileReplacement {
public:
    CFileReplacement() = default;
    ~CFileReplacement();
    CFileReplacement(const CFileReplacement&) = delete;
    CFileReplacement& operator=(const CFileReplacement&) = delete;

    // Creates the temporary file beside `path`, with the permissions that `path` has (the
    // usual ones for a new file). `path` must not exist or be a plain file.
    bool Open(const std::string& path, std::string& error);
    // The temporary file (empty when none is open).
    const std::string& TempPath() const { return m_strTempPath; }
    // Flushes and closes the temporary file, renames it over `path` and flushes the folder.
    bool Commit(std::string& error);
    // Closes and removes the temporary file; `path` stays as it was.
    void Discard();

private:
    std::string m_strPath;
    std::string m_strTempPath;
    int m_fd = -1;
};
