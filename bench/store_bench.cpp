// The card store on the disk of a chosen folder, against that disk's own cost in the same run:
//   1. a change made durable: Commit() of a single-card change against a register of CARDS
//      cards, latency median and 99th percentile, beside an append of the same size followed
//      by fdatasync on a plain file;
//   2. start-up: the register file loaded and its journal opened, empty against holding
//      10,000 changes (page cache warm);
//   3. the fold: WriteRegister() with a 10,000-record journal against a plain save of the same
//      register.
//   store_bench [CARDS] [RUNS] [FOLDER]    (FOLDER: a fresh folder is made in it; /tmp by default)

#include <fcntl.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/PosixIo.h"
#include "bench/Measure.h"
#include "bench/SampleCards.h"
#include "register/CardMap.h"
#include "register/RegisterFile.h"
#include "store/CardChange.h"
#include "store/FileCardStore.h"
#include "store/Journal.h"

namespace {

constexpr int kCommits = 1000;
constexpr size_t kJournalChanges = 10000;

double Median(const std::vector<double>& v) {
    return Percentile(v, 0.5);
}

double MiB(uint64_t bytes) {
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

uint64_t FileSize(const std::string& path) {
    return std::filesystem::file_size(path);
}

std::string FileSystemOf(const std::string& folder) {
    struct statfs fs {};
    if (::statfs(folder.c_str(), &fs) != 0) {
        return "unknown";
    }
    char hex[32];
    std::snprintf(hex, sizeof hex, "0x%llX", static_cast<unsigned long long>(fs.f_type));
    switch (static_cast<unsigned long>(fs.f_type)) {
        case 0xEF53:
            return std::string("ext2/3/4 (") + hex + ")";
        case 0x58465342:
            return std::string("xfs (") + hex + ")";
        case 0x9123683E:
            return std::string("btrfs (") + hex + ")";
        case 0x01021994:
            return std::string("tmpfs (") + hex + "; fdatasync does nothing)";
        case 0x794C7630:
            return std::string("overlayfs (") + hex + ")";
        case 0x2FC12FC1:
            return std::string("zfs (") + hex + ")";
        case 0xF2F52010:
            return std::string("f2fs (") + hex + ")";
        case 0x6969:
            return std::string("nfs (") + hex + ")";
        case 0x65735546:
            return std::string("fuse (") + hex + ")";
        case 0x01021997:
            return std::string("9p (") + hex + ")";
        default:
            return std::string("type ") + hex;
    }
}

// Reads the file once so that the timed runs find it in the page cache.
void ReadOnce(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    std::vector<char> buffer(1 << 20);
    while (fd >= 0 && ::read(fd, buffer.data(), buffer.size()) > 0) {
    }
    if (fd >= 0) {
        ::close(fd);
    }
}

// Writes a sample register of `cards` cards at `path`; returns its keys.
std::vector<std::string> WriteSampleRegister(uint32_t cards, const std::string& path) {
    CCardMap map;
    FillSampleCards(map, cards);
    std::string error;
    if (!SaveRegisterFile(map, path, "", error)) {
        Fail("cannot write " + path, error);
    }
    std::vector<std::string> keys;
    keys.reserve(map.GetCount());
    for (const CCardMap::CAssoc& entry : map) {
        keys.push_back(entry.key.str());
    }
    return keys;
}

void LoadRegister(const std::string& path, CCardMap& map, uint32_t& maxNumber) {
    std::string error;
    if (LoadRegisterFile(path, map, maxNumber, error) != RegisterLoad::Loaded) {
        Fail("cannot load " + path, error);
    }
}

CFileCardStore::OpenReport OpenStore(CFileCardStore& store, const std::string& path) {
    CFileCardStore::OpenReport report;
    std::string error;
    if (!store.Open(path, report, error) || report.keptAside || report.lost != 0) {
        Fail("cannot open the journal of " + path, error);
    }
    return report;
}

// What the card window saves after an edit: one registered card with a new phone, status and
// payment, the rest of the record as it was.
CCardChange TypicalChange(const CCardMap& map, uint32_t maxNumber,
                          const std::vector<std::string>& keys, std::mt19937& rng) {
    const std::string& key = keys[std::uniform_int_distribution<size_t>(0, keys.size() - 1)(rng)];
    std::unique_ptr<CCard> card = CopyOfCard(*map.Lookup(key));
    card->m_strPhone = "139" + std::to_string(std::uniform_int_distribution<int>(0, 99999999)(rng));
    card->m_nStatus = CARD_ISSUED;
    card->m_strPaid = std::to_string(std::uniform_int_distribution<int>(1, 20)(rng) * 60);
    CCardChange change(CardOperation::Save, maxNumber);
    change.Put(key, std::move(card));
    return change;
}

// `count` change records numbered from 1, as Commit() would have appended them.
std::string ChangeRecords(const std::string& registerPath, const std::vector<std::string>& keys,
                          size_t count) {
    CCardMap map;
    uint32_t maxNumber = 0;
    LoadRegister(registerPath, map, maxNumber);
    std::mt19937 rng(7);
    std::string records;
    for (uint64_t seq = 1; seq <= count; ++seq) {
        records += CJournal::EncodeRecord(seq, CJournal::kChange,
                                          TypicalChange(map, maxNumber, keys, rng).Encode());
    }
    return records;
}

// Puts a journal beside the register at `registerPath` that follows it and holds `records`.
void WriteJournal(const std::string& registerPath, const std::string& records) {
    RegisterFingerprint fingerprint;
    CJournal journal;
    std::string error;
    if (!FingerprintOfFile(registerPath, fingerprint, error) ||
        !journal.Create(registerPath + CFileCardStore::kJournalSuffix, fingerprint, 1, error) ||
        (!records.empty() && !journal.Append(records, error))) {
        Fail("cannot write the journal of " + registerPath, error);
    }
}

// 1. Commit() against a plain append + fdatasync of as many bytes, one after the other, so
// that both meet the disk in the same state.
void MeasureCommit(const std::string& dir, uint32_t cards) {
    const std::string path = dir + "commit.kcd";
    const std::vector<std::string> keys = WriteSampleRegister(cards, path);
    CCardMap map;
    uint32_t maxNumber = 0;
    LoadRegister(path, map, maxNumber);
    CFileCardStore store(map, maxNumber);
    OpenStore(store, path);

    std::mt19937 rng(3);
    const size_t payload = TypicalChange(map, maxNumber, keys, rng).Encode().size();
    const size_t recordSize = CJournal::kRecordHeaderSize + payload;
    const std::string plainPath = dir + "plain.bin";
    const int plain = ::open(plainPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (plain < 0) {
        Fail("cannot create " + plainPath, ErrnoText(errno));
    }
    const std::string bytes(recordSize, 'x');

    std::vector<double> commit, append;
    for (int i = 0; i < kCommits; ++i) {
        auto t = Clock::now();
        if (!WriteAll(plain, bytes.data(), bytes.size()) || ::fdatasync(plain) != 0) {
            Fail("cannot append to " + plainPath, ErrnoText(errno));
        }
        append.push_back(Ms(t));

        CCardChange change = TypicalChange(map, maxNumber, keys, rng);
        std::string error;
        t = Clock::now();
        if (store.Commit(std::move(change), CommitMode::Refusable, error) !=
            CommitResult::Durable) {
            Fail("commit refused", error);
        }
        commit.push_back(Ms(t));
    }
    ::close(plain);

    const double cm = Median(commit), c99 = Percentile(commit, 0.99);
    const double am = Median(append), a99 = Percentile(append, 0.99);
    std::printf(
        "\n1. a change made durable: %d commits of one card (%zu bytes encoded, %zu as a "
        "journal record) against %u cards\n",
        kCommits, payload, recordSize, cards);
    std::printf("   Commit()                    median %.3f ms   p99 %.3f ms\n", cm, c99);
    std::printf("   append %zu B + fdatasync   median %.3f ms   p99 %.3f ms\n", recordSize, am,
                a99);
    std::printf("   Commit / plain append: median %.2fx, p99 %.2fx (goal <= 1.5x)\n", cm / am,
                c99 / a99);
}

// 2. Load and Open() with an empty journal against one of 10,000 changes, alternating.
void MeasureStartUp(const std::string& dir, uint32_t cards, int runs) {
    const std::string empty = dir + "startup-empty.kcd";
    const std::string replay = dir + "startup-replay.kcd";
    const std::vector<std::string> keys = WriteSampleRegister(cards, empty);
    WriteSampleRegister(cards, replay);
    WriteJournal(empty, "");
    WriteJournal(replay, ChangeRecords(replay, keys, kJournalChanges));
    for (const std::string& path : {empty, replay}) {
        ReadOnce(path);
        ReadOnce(path + CFileCardStore::kJournalSuffix);
    }

    struct Times {
        std::vector<double> load, open, total;
    };
    const auto startUp = [](const std::string& path, size_t expected, Times& times) {
        CCardMap map;
        uint32_t maxNumber = 0;
        CFileCardStore store(map, maxNumber);
        const auto t = Clock::now();
        LoadRegister(path, map, maxNumber);
        const double load = Ms(t);
        const CFileCardStore::OpenReport report = OpenStore(store, path);
        const double total = Ms(t);
        if (report.replayed != expected) {
            Fail("start-up of " + path, "replayed " + std::to_string(report.replayed));
        }
        times.load.push_back(load);
        times.open.push_back(total - load);
        times.total.push_back(total);
    };
    Times withEmpty, withReplay;
    for (int run = 0; run < runs; ++run) {
        startUp(empty, 0, withEmpty);
        startUp(replay, kJournalChanges, withReplay);
    }

    // Where the open of the full journal goes, apart from applying the changes.
    std::vector<double> read, fingerprint;
    for (int run = 0; run < runs; ++run) {
        std::string error;
        auto t = Clock::now();
        CJournal::Contents contents;
        CJournal::Read(replay + CFileCardStore::kJournalSuffix, contents, error);
        read.push_back(Ms(t));
        t = Clock::now();
        RegisterFingerprint fp;
        FingerprintOfFile(replay, fp, error);
        fingerprint.push_back(Ms(t));
    }

    const std::string journal = replay + CFileCardStore::kJournalSuffix;
    std::printf(
        "\n2. start-up: %u cards (register %.1f MiB), page cache warm (every file read "
        "once before timing), median of %d runs\n",
        cards, MiB(FileSize(replay)), runs);
    std::printf("   empty journal:                 load %.1f ms + Open %.1f ms = %.1f ms\n",
                Median(withEmpty.load), Median(withEmpty.open), Median(withEmpty.total));
    std::printf("   journal of %zu changes (%.1f MiB): load %.1f ms + Open %.1f ms = %.1f ms\n",
                kJournalChanges, MiB(FileSize(journal)), Median(withReplay.load),
                Median(withReplay.open), Median(withReplay.total));
    std::printf(
        "   difference %.1f ms (goal <= 50 ms); of the Open: journal read %.1f ms, "
        "register fingerprint (CRC-32 of the file) %.1f ms\n",
        Median(withReplay.total) - Median(withEmpty.total), Median(read), Median(fingerprint));
}

// 3. WriteRegister() after 10,000 changes against SaveRegisterFile() of the same register, the
// order alternating from run to run. Both replace a file and its backup.
void MeasureFold(const std::string& dir, uint32_t cards, int runs) {
    const std::string path = dir + "fold.kcd";
    const std::string plain = dir + "plain.kcd";
    const std::vector<std::string> keys = WriteSampleRegister(cards, path);
    const std::string records = ChangeRecords(path, keys, kJournalChanges);
    std::filesystem::copy_file(path, plain);

    std::vector<double> fold, save;
    for (int run = 0; run < runs; ++run) {
        WriteJournal(path, records);
        CCardMap map;
        uint32_t maxNumber = 0;
        LoadRegister(path, map, maxNumber);
        CFileCardStore store(map, maxNumber);
        OpenStore(store, path);
        if (store.JournalRecords() != kJournalChanges) {
            Fail("fold", "the journal holds " + std::to_string(store.JournalRecords()));
        }
        const auto timeFold = [&] {
            std::string error;
            const auto t = Clock::now();
            if (!store.WriteRegister(error) || store.JournalRecords() != 0) {
                Fail("WriteRegister", error);
            }
            fold.push_back(Ms(t));
        };
        const auto timeSave = [&] {
            std::string error;
            const auto t = Clock::now();
            if (!SaveRegisterFile(map, plain, plain + ".old", error)) {
                Fail("SaveRegisterFile", error);
            }
            save.push_back(Ms(t));
        };
        if (run % 2 == 0) {
            timeFold();
            timeSave();
        } else {
            timeSave();
            timeFold();
        }
    }
    const double f = Median(fold), s = Median(save);
    std::printf(
        "\n3. the fold: %u cards (register %.1f MiB) holding a journal of %zu changes, "
        "median of %d runs\n",
        cards, MiB(FileSize(path)), kJournalChanges, runs);
    std::printf(
        "   WriteRegister() %.1f ms, SaveRegisterFile() %.1f ms (both with backup): "
        "ratio %.2fx, %.1f ms more\n",
        f, s, f / s, f - s);
}

}  // namespace

int main(int argc, char* argv[]) {
    const uint32_t cards = argc > 1 ? static_cast<uint32_t>(std::atoi(argv[1])) : 100000;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    std::string parent = argc > 3 ? argv[3] : "/tmp";
    std::string dirTemplate = parent + "/orvane-store-bench-XXXXXX";
    if (::mkdtemp(dirTemplate.data()) == nullptr) {
        Fail("cannot make a folder in " + parent, ErrnoText(errno));
    }
    const std::string dir = dirTemplate + "/";
    std::printf("folder %s, file system %s\n", dir.c_str(), FileSystemOf(dir).c_str());
    std::fflush(stdout);

    MeasureCommit(dir, cards);
    std::fflush(stdout);
    MeasureStartUp(dir, cards, runs);
    std::fflush(stdout);
    MeasureFold(dir, cards, runs);
    std::filesystem::remove_all(dir);
    return 0;
}
