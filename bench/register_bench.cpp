// Load and save of a register of many cards, against the disk's own cost in the same run:
// reading the file (dd to /dev/null, warm cache) for the load, a durable copy (dd with
// fsync) for the save, and a plain cp as before. Then the search for a free card number in
// a register where only the last number is free.
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

// This process's own peak (VmHWM). Not getrusage: its maximum carries over from the
// spawning parent, whose memory a vfork child shares until it runs the new program.
long PeakResidentKiB() {
    FILE* status = std::fopen("/proc/self/status", "r");
    char line[256];
    long kib = -1;
    while (status != nullptr && std::fgets(line, sizeof line, status) != nullptr) {
        if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1) {
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
                static_cast<double>(PeakResidentKiB()) / 1024.0, map.GetCount());
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
