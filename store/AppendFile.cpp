#include "store/AppendFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include "base/PosixIo.h"
#include "base/SafeFile.h"

CAppendFile::~CAppendFile() {
    Close();
}

bool CAppendFile::OpenAt(const std::string& path, uint64_t validEnd, const std::string& what,
                         std::string& error) {
    Close();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "无法打开" + what + " " + path + ":" + ErrnoText(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && static_cast<uint64_t>(st.st_size) > validEnd &&
        Io().ftruncate(fd, static_cast<off_t>(validEnd)) != 0) {
        error = "无法截去" + what + " " + path + " 末尾不完整的记录:" + ErrnoText(errno);
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_strPath = path;
    m_strWhat = what;
    m_nSize = validEnd;
    return true;
}

void CAppendFile::Close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

bool CAppendFile::Flush(std::string& error) {
    if (m_fd >= 0 && Io().fdatasync(m_fd) != 0) {
        error = "无法写入" + m_strWhat + " " + m_strPath + ":" + ErrnoText(errno);
        return false;
    }
    return true;
}

bool CAppendFile::Append(std::string_view bytes, std::string& error, bool flush) {
    if (m_fd < 0) {
        error = (m_strWhat.empty() ? std::string("文件") : m_strWhat) + "没有打开";
        return false;
    }
    bool written = ::lseek(m_fd, static_cast<off_t>(m_nSize), SEEK_SET) >= 0 &&
                   WriteAll(m_fd, bytes.data(), bytes.size());
    if (written && flush && Io().fdatasync(m_fd) != 0) {
        written = false;
    }
    if (!written) {
        const int err = errno;
        error = "无法写入" + m_strWhat + " " + m_strPath + ":" + ErrnoText(err);
        // What did reach the file is cut off again, so that the next record follows the last
        // confirmed one; if that fails too, the next append writes over it.
        Io().ftruncate(m_fd, static_cast<off_t>(m_nSize));
        errno = err;
        return false;
    }
    m_nSize += bytes.size();
    return true;
}
