#include "CrashSim.h"

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "base/PosixIo.h"

namespace CrashSim {
namespace {

constexpr size_t kSector = 512;

// A write not yet flushed: where it went and what was there before.
struct Pending {
    off_t offset = 0;
    off_t sizeBefore = 0;
    std::string before;  // the bytes it overwrote (up to the old end of the file)
    std::string after;
};

Mode g_mode = Mode::Kill;
int g_crashAt = 0;
int g_count = 0;
std::mt19937 g_random;
// Unflushed writes per file; a file closed with some keeps a descriptor here to undo them.
std::map<int, std::vector<Pending>> g_pending;

ssize_t RawRead(int fd, char* data, size_t size, off_t at) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, data + done, size - done, at + static_cast<off_t>(done));
        if (n <= 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

void RawWrite(int fd, const char* data, size_t size, off_t at) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd, data + done, size - done, at + static_cast<off_t>(done));
        if (n <= 0) {
            return;
        }
        done += static_cast<size_t>(n);
    }
}

// Undoes a write whole (`keep` 0) or keeps its first `keep` bytes.
void Undo(int fd, const Pending& write, size_t keep) {
    const size_t restore = write.before.size() > keep ? write.before.size() - keep : 0;
    if (restore > 0) {
        RawWrite(fd, write.before.data() + keep, restore, write.offset + static_cast<off_t>(keep));
    }
    const off_t end = std::max(write.sizeBefore, write.offset + static_cast<off_t>(keep));
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_size > end) {
        ::ftruncate(fd, end);
    }
}

[[noreturn]] void Crash() {
    if (g_mode == Mode::PowerCut) {
        for (auto& [fd, writes] : g_pending) {
            for (auto it = writes.rbegin(); it != writes.rend(); ++it) {
                switch (g_random() % 3) {
                    case 0:
                        break;  // reached the disk
                    case 1:
                        Undo(fd, *it, 0);
                        break;
                    default: {
                        const size_t sectors = it->after.size() / kSector;
                        Undo(fd, *it, sectors == 0 ? 0 : (g_random() % sectors) * kSector);
                        break;
                    }
                }
            }
        }
    }
    ::_exit(kCrashExit);
}

bool Due() {
    return ++g_count == g_crashAt;
}

ssize_t SimWrite(int fd, const void* data, size_t size) {
    if (Due()) {
        if (g_mode == Mode::Kill && size > 0) {
            // A write cut short by the end of the process.
            [[maybe_unused]] ssize_t n = ::write(fd, data, g_random() % size);
        }
        Crash();
    }
    if (g_mode == Mode::PowerCut) {
        Pending write;
        write.offset = ::lseek(fd, 0, SEEK_CUR);
        struct stat st {};
        if (write.offset >= 0 && ::fstat(fd, &st) == 0) {
            write.sizeBefore = st.st_size;
            if (write.offset < st.st_size) {
                write.before.resize(
                    std::min<size_t>(size, static_cast<size_t>(st.st_size - write.offset)));
                write.before.resize(static_cast<size_t>(
                    RawRead(fd, write.before.data(), write.before.size(), write.offset)));
            }
            write.after.assign(static_cast<const char*>(data), size);
            g_pending[fd].push_back(std::move(write));
        }
    }
    return ::write(fd, data, size);
}

int SimSync(int fd, int (*sync)(int)) {
    if (Due()) {
        Crash();
    }
    const int result = sync(fd);
    if (result == 0) {
        g_pending.erase(fd);
    }
    return result;
}

int SimFsync(int fd) {
    return SimSync(fd, ::fsync);
}

int SimFdatasync(int fd) {
    return SimSync(fd, ::fdatasync);
}

int SimClose(int fd) {
    const auto it = g_pending.find(fd);
    if (it != g_pending.end()) {
        // Still to be undone at a power cut: under a descriptor of its own.
        const int kept = ::dup(fd);
        if (kept >= 0) {
            g_pending[kept] = std::move(it->second);
        }
        g_pending.erase(fd);
    }
    return ::close(fd);
}

}  // namespace

void Install(Mode mode, int crashAt, uint32_t seed) {
    g_mode = mode;
    g_crashAt = crashAt;
    g_count = 0;
    g_random.seed(seed);
    g_pending.clear();
    Io().write = SimWrite;
    Io().fsync = SimFsync;
    Io().fdatasync = SimFdatasync;
    Io().close = SimClose;
}

int Count() {
    return g_count;
}

}  // namespace CrashSim
