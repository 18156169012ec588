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

// Replaces `to` with a byte copy of `from` in the same safe way (no backup).
bool CopyFileSafely(const std::string& from, const std::string& to, std::string& error);

// The folder part of a path, with its trailing '/' ("" for a bare file name).
std::string DirectoryOf(const std::string& path);
