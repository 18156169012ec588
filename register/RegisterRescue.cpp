#include "register/RegisterRescue.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <ctime>

#include <string>

#include "base/PosixIo.h"
#include "base/SafeFile.h"
#include "register/CardMap.h"
#include "register/RegisterFile.h"

namespace {

// Flushes the folder's entries, so that a new name survives a power cut. Best effort: some
// file systems cannot flush a folder, and the name is there either way.
void FlushFolder(const std::string& dir) {
    const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        Io().fsync(fd);
        ::close(fd);
    }
}

}  // namespace

DamagedStartFacts GatherDamagedStartFacts(const std::string& path, const std::string& backupPath) {
    DamagedStartFacts facts;
    {
        CCardMap backup;
        uint32_t maxNumber = 0;
        switch (LoadRegisterFile(backupPath, backup, maxNumber, facts.backupError)) {
            case RegisterLoad::Missing:
                break;
            case RegisterLoad::Loaded:
                facts.backupExists = true;
                facts.backupLoads = true;
                facts.backupCards = backup.GetCount();
                break;
            case RegisterLoad::EmptyFile:
                facts.backupExists = true;
                facts.backupError = "文件是空的";
                break;
            case RegisterLoad::Unreadable:
            case RegisterLoad::Damaged:
                facts.backupExists = true;
                break;
        }
    }
    struct stat st {};
    if (facts.backupExists && ::stat(backupPath.c_str(), &st) == 0) {
        facts.backupTime = st.st_mtime;
    }
    CCardMap intact;
    uint32_t maxNumber = 0;
    std::string error;
    facts.intactCards = LoadRegisterPrefix(path, intact, maxNumber, error);
    return facts;
}

std::string KeptBackupName(const std::string& backupPath, std::time_t now) {
    return FreeStampedName(backupPath + "-", now);
}

bool KeepBackup(const std::string& backupPath, std::time_t now, std::string& keptPath,
                std::string& error) {
    keptPath.clear();
    struct stat st {};
    if (::lstat(backupPath.c_str(), &st) != 0) {
        if (errno == ENOENT) {
            return true;
        }
        error = "无法查看备份文件 " + backupPath + ":" + ErrnoText(errno);
        return false;
    }
    if (S_ISREG(st.st_mode)) {
        // link() never replaces a name taken meanwhile: then the next free one is tried.
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string name = KeptBackupName(backupPath, now);
            if (Io().link(backupPath.c_str(), name.c_str()) == 0) {
                FlushFolder(DirectoryOf(backupPath));
                keptPath = name;
                return true;
            }
            if (errno != EEXIST) {
                break;
            }
        }
    }
    // No hard links here (or no plain file): a copy, on disk before it takes its name.
    const std::string name = KeptBackupName(backupPath, now);
    if (!CopyFileSafely(backupPath, name, error)) {
        return false;
    }
    keptPath = name;
    return true;
}
