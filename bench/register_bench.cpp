// Load and save of a register of many cards, against the disk's own cost in the same run:
// reading the file (dd to /dev/null, warm cache) for the load, a durable copy (dd with
// fsync) for the save, and a plain cp as before; whether the memory held grows from run to
// run. Then the search for a free card number in a register where only the last number is
// free.
//   register_bench [CARDS] [RUNS]       medians and their ratios
//   register_bench --peak FILE OUT      one load and one save; prints the peak resident memory
//   register_bench --write CARDS FILE   writes a sample register (for profiling by hand)

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bench/SampleCards.h"
#include "register/CardFields.h"
#include "register/CardMap.h"
#include "register/RegisterFile.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

int Spawn(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool Load(const std::string& path, CCardMap& map) {
    uint32_t max = 0;
    std::string error;
    if (LoadRegisterFile(path, map, max, error) != RegisterLoad::Loaded) {
        std::fprintf(stderr, "load failed: %s\n", error.c_str());
        return false;
    }
    return true;
}

bool Save(const CCardMap& map, const std::string& path, const std::string& backup) {
    std::string error;
    if (!SaveRegisterFile(map, path, backup, error)) {
        std::fprintf(stderr, "save failed: %s\n", error.c_str());
        return false;
    }
    return true;
}

// A figure of this process's /proc/self/status in KiB: "VmRSS" now, "VmHWM" its own peak
// (not getrusage: its maximum carries over from the spawning parent, whose memory a vfork
// child shares until it runs the new program).
long StatusKiB(const char* field) {
    FILE* status = std::fopen("/proc/self/status", "r");
    char line[256];
    long kib = -1;
    const size_t length = std::strlen(field);
    while (status != nullptr && std::fgets(line, sizeof line, status) != nullptr) {
        if (std::strncmp(line, field, length) == 0 && line[length] == ':') {
            kib = std::atol(line + length + 1);
            break;
        }
    }
    if (status != nullptr) {
        std::fclose(status);
    }
    return kib;
}

int Peak(const std::string& file, const std::string& out) {
    CCardMap map;
    if (!Load(file, map) || !Save(map, out, out + ".old")) {
        return 1;
    }
    std::printf("peak resident memory of load + save: %.1f MiB (%zu cards)\n",
                static_cast<double>(StatusKiB("VmHWM")) / 1024.0, map.GetCount());
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc == 4 && std::string(argv[1]) == "--peak") {
        return Peak(argv[2], argv[3]);
    }
    if (argc == 4 && std::string(argv[1]) == "--write") {
        CCardMap map;
        FillSampleCards(map, static_cast<uint32_t>(std::atoi(argv[2])));
        return Save(map, argv[3], "") ? 0 : 1;
    }
    const uint32_t cards = argc > 1 ? static_cast<uint32_t>(std::atoi(argv[1])) : 100000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 7;

    char dirTemplate[] = "/tmp/orvane-bench-XXXXXX";
    const std::string dir = std::string(::mkdtemp(dirTemplate)) + "/";
    const std::string file = dir + "cardbook.kcd";
    {
        CCardMap map;
        FillSampleCards(map, cards);
        if (!Save(map, file, "")) {
            return 1;
        }
    }

    std::vector<double> load, save, copy, read, durable;
    std::vector<long> resident;  // after each load + save, the register still held
    for (int i = 0; i < runs; ++i) {
        auto t = Clock::now();
        if (Spawn({"cp", file, dir + "copy.kcd"}) != 0) {
            return 1;
        }
        copy.push_back(Seconds(t));
        t = Clock::now();
        if (Spawn({"dd", "if=" + file, "of=/dev/null", "bs=1M", "status=none"}) != 0) {
            return 1;
        }
        read.push_back(Seconds(t));
        t = Clock::now();
        if (Spawn({"dd", "if=" + file, "of=" + dir + "durable.kcd", "bs=1M", "conv=fsync",
                   "status=none"}) != 0) {
            return 1;
        }
        durable.push_back(Seconds(t));

        CCardMap map;
        t = Clock::now();
        if (!Load(file, map)) {
            return 1;
        }
        load.push_back(Seconds(t));

        t = Clock::now();
        if (!Save(map, dir + "saved.kcd", dir + "saved.kcd.old")) {
            return 1;
        }
        save.push_back(Seconds(t));
        resident.push_back(StatusKiB("VmRSS"));
    }
    const long size = [&] {
        FILE* f = std::fopen(file.c_str(), "rb");
        std::fseek(f, 0, SEEK_END);
        const long n = std::ftell(f);
        std::fclose(f);
        return n;
    }();
    const double l = Median(load), s = Median(save), c = Median(copy);
    const double r = Median(read), d = Median(durable);
    std::printf("register of %u cards, %.1f MiB, %d runs (medians)\n", cards,
                static_cast<double>(size) / (1024.0 * 1024.0), runs);
    std::printf("load %.1f ms, save %.1f ms (with backup and fsync), cp %.1f ms\n", l * 1e3,
                s * 1e3, c * 1e3);
    std::printf("read %.1f ms (dd to /dev/null), durable copy %.1f ms (dd conv=fsync)\n", r * 1e3,
                d * 1e3);
    std::printf("load / read = %.2f, save / durable copy = %.2f, (load + save) / cp = %.2f\n",
                l / r, s / d, (l + s) / c);
    std::printf("load + save = %.1f ms\n", (l + s) * 1e3);
    // The whole process, the freed heap of the sample cards included: what counts is that it
    // stays the same from run to run.
    std::printf(
        "resident memory of this process after load + save, the register held, "
        "run 1 / 2 / %d: %.1f / %.1f / %.1f MiB\n",
        runs, static_cast<double>(resident.front()) / 1024.0,
        static_cast<double>(resident[std::min<size_t>(1, resident.size() - 1)]) / 1024.0,
        static_cast<double>(resident.back()) / 1024.0);

    std::fflush(stdout);
    if (Spawn({"/proc/self/exe", "--peak", file, dir + "peak.kcd"}) != 0) {
        return 1;
    }
    Spawn({"rm", "-rf", dir});
    {
        // Every number but the last taken: the search walks all of them.
        CCardMap full;
        for (int n = 1; n < 999999; ++n) {
            const std::string no = CardNoText(n);
            full.SetAt(no, std::make_unique<CCard>());
        }
        std::vector<double> search;
        for (int i = 0; i < runs; ++i) {
            const auto t = Clock::now();
            const std::optional<std::string> free = FirstFreeCardNo(full);
            search.push_back(Seconds(t));
            if (free != "999999") {
                std::fprintf(stderr, "free number search found the wrong number\n");
                return 1;
            }
        }
        std::printf("free card number, only 999999 free of 999,998 taken: %.1f ms\n",
                    Median(search) * 1e3);
    }
    return 0;
}
