// The history as "操作记录" reads it: a history of plausible records (mixed operations, Chinese
// names, contents of 40 to 250 bytes, fees with registrations and extensions) is written to a
// temporary folder for each size; then the times of reading and indexing it, of a filter by a
// card-number part, by a name part, by a month of days and by an operation, and the resident
// memory that the index adds. For the largest size also the window, from its creation (which
// reads the file) to the first paint of its list, under the offscreen platform, and the
// exports of all its records as CSV and as a workbook.
//   history_bench [RUNS] [RECORDS...]      (default: 5 runs; 10000 100000 1000000 records)

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTableView>

#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "history/HistoryView.h"
#include "store/CardChange.h"
#include "store/HistoryEntry.h"
#include "store/HistoryFile.h"
#include "ui/HistoryDlg.h"
#include "ui/TableExport.h"

#include "bench/FirstPaint.h"
#include "bench/ResidentMemory.h"

namespace {

const char* const kSurnames[] = {"王", "李", "张", "刘", "陈", "杨", "黄", "赵", "吴", "周",
                                 "徐", "孙", "马", "朱", "胡", "郭", "何", "高", "林", "欧阳"};
const char* const kGiven[] = {"伟", "芳", "娜", "秀英", "敏", "静", "丽", "强", "磊",   "军",
                              "洋", "勇", "艳", "杰",   "娟", "涛", "明", "超", "秀兰", "霞"};
const char* const kFields[] = {"姓名", "门牌号",   "联系电话", "身份证号", "地址",
                               "备注", "卡片类型", "卡片状态", "有效期",   "门禁权限"};
const char* const kWords[] = {"幸福小区", "3栋",    "2单元",  "1201室", "业主",       "租户",
                              "临时卡",   "已发行", "未发行", "挂失",   "13800138000"};

// Card operations weighted as a desk does them: saves, issues and extensions most often.
const CardOperation kOperations[] = {
    CardOperation::Save,       CardOperation::Save,   CardOperation::Save,
    CardOperation::Add,        CardOperation::Add,    CardOperation::Issue,
    CardOperation::Issue,      CardOperation::Extend, CardOperation::Extend,
    CardOperation::Read,       CardOperation::Delete, CardOperation::SameInfo,
    CardOperation::ReportLost, CardOperation::Unlock, CardOperation::Enrol,
};

template <class T, size_t N>
const T& Pick(std::mt19937& random, const T (&items)[N]) {
    return items[random() % N];
}

// The next record, a few seconds to three minutes after the one before (`time`).
CHistoryEntry SampleEntry(std::mt19937& random, int64_t& time) {
    CHistoryEntry entry;
    time += 1 + static_cast<int64_t>(random() % 180);
    entry.time = time;
    entry.utcOffset = 8 * 3600;
    entry.desk = "desk" + std::to_string(1 + random() % 3) + "/operator";
    const CardOperation operation = Pick(random, kOperations);
    entry.operation = static_cast<uint8_t>(operation);
    char cardNo[8];
    std::snprintf(cardNo, sizeof cardNo, "%06u", static_cast<unsigned>(1 + random() % 999999));
    entry.cardNo = cardNo;
    entry.name = std::string(Pick(random, kSurnames)) + Pick(random, kGiven) +
                 (random() % 2 ? Pick(random, kGiven) : "");
    if (operation == CardOperation::Extend || operation == CardOperation::Add) {
        entry.feeCents = 100 * static_cast<int64_t>(10 + random() % 300);
    }
    // "字段:前→后" items until the content is 40 to 250 bytes long.
    const size_t target = 40 + random() % 211;
    while (entry.content.size() < target) {
        if (!entry.content.empty()) {
            entry.content += "; ";
        }
        entry.content += std::string(Pick(random, kFields)) + ":" + Pick(random, kWords) + "→" +
                         Pick(random, kWords);
    }
    if (entry.content.size() > 250) {
        size_t cut = 250;
        while ((static_cast<unsigned char>(entry.content[cut]) & 0xC0) == 0x80) {
            --cut;  // not inside a character
        }
        entry.content.resize(cut);
    }
    return entry;
}

// Writes a history of `count` records to `path`, in appends of 10,000 records.
bool WriteSampleHistory(const std::string& path, uint32_t count) {
    std::mt19937 random(20261210);
    int64_t time = 1704067200;  // 2024-01-01
    CHistoryFile file;
    std::string error;
    if (!file.Open(path, CHistoryFile::Contents(), error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    std::vector<std::string> payloads;
    for (uint32_t i = 0; i < count; ++i) {
        payloads.push_back(SampleEntry(random, time).Encode());
        if (payloads.size() == 10000 || i + 1 == count) {
            if (!file.Append(payloads, error)) {
                std::fprintf(stderr, "%s\n", error.c_str());
                return false;
            }
            payloads.clear();
        }
    }
    return true;
}

double Milliseconds(const QElapsedTimer& timer) {
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

double Median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// The processor time of this process in milliseconds: on a busy machine it says more than
// the clock on the wall.
double CpuMilliseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// Runs `work` `runs` times and prints its median and fastest time, and its median processor
// time.
void Time(const char* what, int runs, const std::function<size_t()>& work) {
    std::vector<double> times;
    std::vector<double> cpu;
    size_t rows = 0;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        const double cpuStart = CpuMilliseconds();
        timer.start();
        rows = work();
        times.push_back(Milliseconds(timer));
        cpu.push_back(CpuMilliseconds() - cpuStart);
    }
    std::printf("  %-40s %8.1f ms median %8.1f ms fastest %8.1f ms cpu %8zu rows\n", what,
                Median(times), *std::min_element(times.begin(), times.end()), Median(cpu), rows);
}

}  // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qt(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::vector<uint32_t> sizes;
    for (int i = 2; i < argc; ++i) {
        sizes.push_back(static_cast<uint32_t>(std::atol(argv[i])));
    }
    if (sizes.empty()) {
        sizes = {10000, 100000, 1000000};
    }
    char folder[] = "/tmp/history-bench-XXXXXX";
    if (::mkdtemp(folder) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }

    for (const uint32_t count : sizes) {
        const std::string path = std::string(folder) + "/cardbook.kcd.history";
        std::filesystem::remove(path);
        QElapsedTimer written;
        written.start();
        if (!WriteSampleHistory(path, count)) {
            return 1;
        }
        const double writeMs = Milliseconds(written);
        struct stat st {};
        ::stat(path.c_str(), &st);
        std::printf("%u records: %.1f MB, %.1f bytes a record (written in %.0f ms)\n", count,
                    static_cast<double>(st.st_size) / 1e6,
                    static_cast<double>(st.st_size - CHistoryFile::kHeaderSize) / count, writeMs);

        Time("read (the file mapped, its records found)", runs, [&] {
            CHistoryFile::Contents contents;
            std::string error;
            CHistoryFile::Read(path, contents, error);
            return contents.records.size();
        });
        auto view = std::make_unique<CHistoryView>();
        long addedKiB = 0;
        Time("read and index", runs, [&] {
            view = std::make_unique<CHistoryView>();
            const long before = ResidentKiB();
            std::string error;
            if (!view->Load(path, error)) {
                std::fprintf(stderr, "%s\n", error.c_str());
                std::exit(1);
            }
            addedKiB = ResidentKiB() - before;
            return static_cast<size_t>(view->Count());
        });
        std::printf("  %-44s %9.1f MB (the mapped file included)\n", "memory of the view",
                    static_cast<double>(addedKiB) / 1024);
        HistoryFilter filter;
        filter.cardNo = "1234";
        Time("filter: card-number part \"1234\"", runs,
             [&] { return view->Filter(filter).size(); });
        filter = HistoryFilter();
        filter.name = "秀英";
        Time("filter: name part \"秀英\"", runs, [&] { return view->Filter(filter).size(); });
        filter = HistoryFilter();
        filter.fromDay = view->FirstDay() / 100 * 100 + 1;  // the first month
        filter.toDay = filter.fromDay + 30;
        Time("filter: days of the first month", runs, [&] { return view->Filter(filter).size(); });
        filter = HistoryFilter();
        filter.operation = static_cast<int>(CardOperation::Extend);
        Time("filter: operation 延期", runs, [&] { return view->Filter(filter).size(); });
        filter.name = "王";
        filter.cardNo = "12";
        Time("filter: 延期, name \"王\", card \"12\"", runs,
             [&] { return view->Filter(filter).size(); });
        if (count != sizes.back()) {
            continue;
        }
        // The exports of every record, once each: the files are flushed to disk.
        const std::vector<uint32_t> all = view->Filter(HistoryFilter());
        const ExportTable table = HistoryExportTable(*view, all);
        Time("export: CSV of every record", 1, [&] {
            std::string error;
            if (!WriteCsvFile(std::string(folder) + "/all.csv", table, error)) {
                std::fprintf(stderr, "%s\n", error.c_str());
            }
            return table.rowCount;
        });
        Time("export: workbook of every record", 1, [&] {
            std::string error;
            if (!WriteXlsxTable(std::string(folder) + "/all.xlsx", "操作记录", table, error)) {
                std::fprintf(stderr, "%s\n", error.c_str());
            }
            return table.rowCount;
        });
        view.reset();
        // The window over the largest history: created (reading the file), shown, painted.
        std::vector<double> opens;
        for (int run = 0; run < runs; ++run) {
            qt.processEvents();
            QElapsedTimer timer;
            timer.start();
            auto window = std::make_unique<CHistoryDlg>(path);
            FirstPaint watch;
            auto* list = static_cast<QTableView*>(window->Control(HistoryIds::IDC_HISTORY_LIST));
            list->viewport()->installEventFilter(&watch);
            window->show();
            watch.Wait(qt);
            opens.push_back(Milliseconds(timer));
            if (list->model()->rowCount() != static_cast<int>(count)) {
                std::fprintf(stderr, "the list holds %d rows\n", list->model()->rowCount());
                return 1;
            }
        }
        std::printf("  %-44s %9.1f ms median  %9.1f ms fastest\n",
                    "window opened to its list painted", Median(opens),
                    *std::min_element(opens.begin(), opens.end()));
    }
    std::filesystem::remove_all(folder);
    return 0;
}
