// The history's chain at 10,000, 100,000 and 1,000,000 records:
//   the history written (in batches of 1,000), its size a record;
//   read (mapped, records found), the chain checked, and the store opened on it as at start-up
//   (the history read, checked and opened for appending), page cache warm, best of RUNS;
//   a change committed with its record (journal and history flushed), median and 99th
//   percentile.
//   chain_bench [RUNS] [FOLDER]    (FOLDER: a fresh folder is made in it; /tmp by default)

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "base/CodePage.h"
#include "bench/Measure.h"
#include "register/CardFields.h"
#include "register/CardMap.h"
#include "store/CardHistory.h"
#include "store/FileCardStore.h"
#include "store/HistoryEntry.h"
#include "store/HistoryFile.h"

namespace {

// A plausible record: mostly edits of one or two fields, some new cards with all of theirs.
std::string SampleRecord(std::mt19937& random, int64_t time) {
    static const char* const kNames[] = {"张伟", "王芳", "李娜", "刘洋", "陈静", "杨帆", "赵磊"};
    CHistoryEntry entry;
    entry.time = time;
    entry.utcOffset = 8 * 3600;
    entry.desk = "front-desk/operator";
    const int card = static_cast<int>(random() % 999999) + 1;
    entry.cardNo = CardNoText(card);
    entry.name = kNames[random() % 7];
    switch (random() % 10) {
        case 0:
        case 1:
            entry.operation = static_cast<uint8_t>(CardOperation::Add);
            entry.content = "编号:";
            entry.content += std::to_string(card);
            entry.content += "; 卡片状态:未发行; 卡号:";
            entry.content += entry.cardNo;
            entry.content +=
                "; 卡类型:月卡; 有效期:20271231; 密码:已设置; 登记日期:20261210; 姓名:";
            entry.content += entry.name;
            entry.content +=
                "; 联系电话:13800138000; 门牌号:3-2-501; 门禁权限:1,2,3,16; 性别:男; "
                "缴费金额:300; 月收费标准:25";
            entry.feeCents = 30000;
            break;
        case 2:
            entry.operation = static_cast<uint8_t>(CardOperation::Extend);
            entry.content = "缴费:150.00元; 有效期:20261231→20271231; 缴费金额:300→450";
            entry.feeCents = 15000;
            break;
        default:
            entry.operation = static_cast<uint8_t>(CardOperation::Save);
            entry.content = "联系电话:13800138000→13912345678";
            break;
    }
    return entry.Encode();
}

void WriteHistory(const std::string& path, size_t count) {
    std::mt19937 random(7);
    CHistoryFile::Contents none;
    CHistoryFile file;
    std::string error;
    if (!file.Open(path, none, error)) {
        Fail(path, error);
    }
    std::vector<std::string> batch;
    int64_t time = 1450000000;
    for (size_t n = 0; n < count; n += batch.size()) {
        batch.clear();
        for (size_t k = n; k < count && batch.size() < 1000; ++k) {
            batch.push_back(SampleRecord(random, time += 300));
        }
        if (!file.Append(batch, error)) {
            Fail(path, error);
        }
    }
}

// Commit latency of single-card saves on a store opened on `registerPath`.
std::vector<double> CommitTimes(CFileCardStore& store, CCardMap& map, int count) {
    std::vector<double> times;
    std::string error;
    for (int i = 0; i < count; ++i) {
        auto card = std::make_unique<CCard>();
        card->m_strCardNo = CardNoText(i % 100 + 1);
        card->m_strPhone = std::to_string(13800000000LL + i);
        CCardChange change(CardOperation::Save, 1);
        change.Put(CardNoText(i % 100 + 1), std::move(card));
        const auto start = Clock::now();
        if (store.Commit(std::move(change), CommitMode::Refusable, error) !=
            CommitResult::Durable) {
            Fail("commit", error);
        }
        times.push_back(Ms(start));
    }
    (void)map;
    return times;
}

}  // namespace

int main(int argc, char* argv[]) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const std::filesystem::path base = argc > 2 ? argv[2] : "/tmp";
    const std::filesystem::path dir = base / ("chain_bench." + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);

    std::printf("records    write ms  bytes/rec  read ms  verify ms  open ms\n");
    for (const size_t count : {size_t{10000}, size_t{100000}, size_t{1000000}}) {
        const std::string registerPath = (dir / "r").string() + std::to_string(count) + ".kcd";
        const std::string path = registerPath + ".history";
        auto start = Clock::now();
        WriteHistory(path, count);
        const double writeMs = Ms(start);
        const double bytes = static_cast<double>(std::filesystem::file_size(path));
        double readMs = 1e9, verifyMs = 1e9, openMs = 1e9;
        for (int run = 0; run < runs; ++run) {
            CHistoryFile::Contents contents;
            std::string error;
            start = Clock::now();
            if (!CHistoryFile::Read(path, contents, error)) {
                Fail(path, error);
            }
            readMs = std::min(readMs, Ms(start));
            start = Clock::now();
            CHistoryFile::Verify(contents);
            verifyMs = std::min(verifyMs, Ms(start));
            if (contents.brokenAt != 0 || contents.records.size() != count) {
                Fail(path, "the chain does not hold");
            }
            CCardMap map;
            uint32_t maxNumber = 0;
            CFileCardStore store(map, maxNumber);
            CFileCardStore::OpenReport report;
            start = Clock::now();
            if (!store.Open(registerPath, report, error) || !report.historyOpen) {
                Fail(registerPath, error + report.historyError);
            }
            openMs = std::min(openMs, Ms(start));
        }
        std::printf("%8zu  %9.0f  %9.1f  %7.1f  %9.1f  %7.1f\n", count, writeMs,
                    bytes / static_cast<double>(count), readMs, verifyMs, openMs);
        if (std::getenv("CHAIN_BENCH_KEEP") == nullptr) {
            std::filesystem::remove(path);
        }
    }

    // A change's cost with and without its record in the history.
    {
        CCardMap map;
        uint32_t maxNumber = 0;
        CFileCardStore store(map, maxNumber);
        CFileCardStore::OpenReport report;
        std::string error;
        if (!store.Open((dir / "commit.kcd").string(), report, error)) {
            Fail("open", error);
        }
        const std::vector<double> with = CommitTimes(store, map, 500);
        std::printf(
            "commit with its record: median %.3f ms, p99 %.3f ms (journal and history "
            "flushed)\n",
            Percentile(with, 0.5), Percentile(with, 0.99));
    }
    if (std::getenv("CHAIN_BENCH_KEEP") == nullptr) {
        std::filesystem::remove_all(dir);
    }
    return 0;
}
