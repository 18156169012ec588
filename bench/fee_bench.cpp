// The fee summary and the list of cards about to expire, at the sizes a large office reaches:
//   1. a history of 10,000 / 100,000 / 1,000,000 records (a third with a fee, two years of
//      days, Chinese names) written to a fresh folder, then, median of RUNS: reading it (the
//      mapping and the walk over its records), the summary by day and by month over the whole
//      range, and the payments of the busiest line;
//   2. registers of 100,000 and 999,999 sample cards, loaded from a register file as at the
//      program's start: the cards ending within 30 days and within 3,650 days (all), and the
//      order of the longer list by name.
//   fee_bench [RUNS] [FOLDER]    (FOLDER: a fresh folder is made in it; /tmp by default)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "bench/SampleCards.h"
#include "history/ExpiringCards.h"
#include "history/FeeSummary.h"
#include "register/CardMap.h"
#include "store/HistoryEntry.h"
#include "store/HistoryFile.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point since) {
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

// The median time of `runs` calls of `work`, in milliseconds.
double Median(int runs, const std::function<void()>& work) {
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        const Clock::time_point start = Clock::now();
        work();
        times.push_back(Ms(start));
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

[[noreturn]] void Fail(const std::string& what, const std::string& error) {
    std::fprintf(stderr, "%s: %s\n", what.c_str(), error.c_str());
    std::exit(1);
}

// `count` records over two years from 2025-01-01 at a desk eight hours east of UTC, in time
// order, one in three with a fee (one in fifty of those a correction).
void WriteHistory(const std::string& path, uint32_t count) {
    static const char* const kNames[] = {"张伟", "王芳",   "李娜", "刘洋",   "陈静", "杨磊",
                                         "赵敏", "黄晓明", "周杰", "吴丽华", "徐强", "孙悦"};
    std::mt19937 random(7);
    const auto number = [&random](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    constexpr int64_t kStart = 1735689600 - 8 * 3600;  // 2025-01-01 00:00 at the desk
    constexpr int64_t kSpan = 2 * 365 * 86400;
    CHistoryFile::Contents contents;
    std::string error;
    CHistoryFile file;
    if (!CHistoryFile::Read(path, contents, error) || !file.Open(path, contents, error)) {
        Fail(path, error);
    }
    std::vector<std::string> payloads;
    constexpr uint32_t kBatch = 50000;
    for (uint32_t i = 0; i < count; ++i) {
        CHistoryEntry entry;
        entry.time = kStart + static_cast<int64_t>(i) * kSpan / count;
        entry.utcOffset = 8 * 3600;
        entry.desk = "front-desk/operator";
        char cardNo[8];
        std::snprintf(cardNo, sizeof cardNo, "%06d", number(1, 20000));
        entry.cardNo = cardNo;
        entry.name = kNames[number(0, 11)];
        if (number(0, 2) == 0) {
            entry.operation = static_cast<uint8_t>(CardOperation::Extend);
            entry.feeCents = number(1, 12) * 6000;
            if (number(0, 49) == 0) {
                entry.operation = static_cast<uint8_t>(CardOperation::Save);
                entry.feeCents = -entry.feeCents;
            }
            entry.content = "有效期:20261231→20271231; 收费:" + FeeText(entry.feeCents) + "元";
        } else {
            entry.operation = static_cast<uint8_t>(CardOperation::Save);
            entry.content = "联系电话:13800000000→13912345678; 门牌号:3栋2单元1201→5栋1单元0302";
        }
        payloads.push_back(entry.Encode());
        if (payloads.size() == kBatch || i + 1 == count) {
            if (!file.Append(payloads, error)) {
                Fail(path, error);
            }
            payloads.clear();
        }
    }
}

void BenchHistory(const std::string& folder, uint32_t count, int runs) {
    const std::string path = folder + "/fees-" + std::to_string(count) + ".history";
    WriteHistory(path, count);
    const double bytes = static_cast<double>(std::filesystem::file_size(path));

    const double read = Median(runs, [&path] {
        CHistoryFile::Contents contents;
        std::string error;
        if (!CHistoryFile::Read(path, contents, error)) {
            Fail(path, error);
        }
    });
    CHistoryFile::Contents contents;
    std::string error;
    if (!CHistoryFile::Read(path, contents, error)) {
        Fail(path, error);
    }
    CFeeSummary byDay;
    const double day = Median(
        runs, [&] { byDay = SummarizeFees(contents.records, 20250101, 20261231, FeePeriod::Day); });
    CFeeSummary byMonth;
    const double month = Median(runs, [&] {
        byMonth = SummarizeFees(contents.records, 20250101, 20261231, FeePeriod::Month);
    });
    size_t busiest = 0;
    for (size_t i = 0; i < byMonth.lines.size(); ++i) {
        if (byMonth.lines[i].payments > byMonth.lines[busiest].payments) {
            busiest = i;
        }
    }
    size_t shown = 0;
    const double payments =
        Median(runs, [&] { shown = LinePayments(byMonth, busiest, contents.records).size(); });
    std::printf(
        "history %8u records (%6.1f MiB, %3.0f bytes each), %7llu payments: read %7.1f ms, "
        "by day %7.1f ms (%zu lines), by month %7.1f ms (%zu lines), a month's %zu payments "
        "%6.1f ms\n",
        count, bytes / (1024 * 1024), bytes / count,
        static_cast<unsigned long long>(byDay.totalPayments), read, day, byDay.lines.size(), month,
        byMonth.lines.size(), shown, payments);
    std::filesystem::remove(path);
}

void BenchExpiring(const std::string& folder, uint32_t count, int runs) {
    CCardMap map;
    uint32_t maxNumber = 0;
    if (!LoadSampleCards(map, maxNumber, count, folder)) {
        std::exit(1);
    }
    CExpiringList month;
    const double within30 = Median(runs, [&] { month = FindExpiringCards(map, 20261210, 30); });
    CExpiringList all;
    const double within3650 = Median(runs, [&] { all = FindExpiringCards(map, 20261210, 3650); });
    const double byName =
        Median(runs, [&] { ExpiringOrder(all.cards, ExpiringColumn::Name, false); });
    std::printf(
        "register %6u cards: within 30 days %7.1f ms (%zu cards), within 3650 days %7.1f ms "
        "(%zu cards), sorted by name %7.1f ms\n",
        count, within30, month.cards.size(), within3650, all.cards.size(), byName);
}

}  // namespace

int main(int argc, char* argv[]) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::string base = argc > 2 ? argv[2] : "/tmp";
    std::string folder = base + "/fee-bench-XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr) {
        Fail(folder, "cannot make the folder");
    }
    std::printf("fee_bench: median of %d runs, folder %s\n", runs, folder.c_str());
    for (const uint32_t count : {10000u, 100000u, 1000000u}) {
        BenchHistory(folder, count, runs);
    }
    for (const uint32_t count : {100000u, 999999u}) {
        BenchExpiring(folder, count, runs);
    }
    std::filesystem::remove_all(folder);
    return 0;
}
