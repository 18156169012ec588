#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// A file that only grows: each append is written whole and flushed to disk (fdatasync)
// before it counts. The journal and the history are kept in such files.
class CAppendFile {
public:
    CAppendFile() = default;
    ~CAppendFile();
    CAppendFile(const CAppendFile&) = delete;
    CAppendFile& operator=(const CAppendFile&) = delete;

    // Opens the file at `path` for appending at `validEnd`: what follows (a write cut short)
    // is cut off first. `what` names the file in messages ("操作日志").
    bool OpenAt(const std::string& path, uint64_t validEnd, const std::string& what,
                std::string& error);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }

    // Appends `bytes` and flushes them to disk (unless `flush` is false: then Flush() does it
    // later). On failure the file is cut back to where it was (as far as the disk allows) and
    // `error` says what failed.
    bool Append(std::string_view bytes, std::string& error, bool flush = true);
    // Flushes what was appended to disk (fdatasync).
    bool Flush(std::string& error);

    const std::string& Path() const { return m_strPath; }
    uint64_t Size() const { return m_nSize; }

private:
    int m_fd = -1;
    std::string m_strPath;
    std::string m_strWhat;
    uint64_t m_nSize = 0;
};
