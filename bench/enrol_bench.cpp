// Batch enrolment of a resident list of 10,000 rows into a register of 20,000 cards, under the
// offscreen platform: from choosing the file (read, map, preview) to the confirmed enrolment
// (the register saved with its backup, every accepted row in the register), median of RUNS,
// each on a fresh register.
//   enrol_bench [ROWS] [RUNS]
// The memory of lists that once took minutes and gigabytes, each previewed in a process of its
// own: a 20 KB and a 200 KB CSV file of commas, one of 200 KB with a title in each of its some
// 24,000 columns, a small workbook with a cell in column XFD and a list of ROWS (1,000,000)
// residents; the time to the preview, the peak resident memory of the process, and its resident
// memory before the dialog opened and after it closed.
//   enrol_bench memory [ROWS]

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/FileDialog.h"
#include "app/MessageBox.h"
#include "app/OrvaneApp.h"
#include "bench/SampleCards.h"
#include "enrol/CsvFile.h"
#include "register/CardFields.h"
#include "ui/EnrolDlg.h"
#include "ui/EnrolIds.h"

namespace {

// Of every 20 rows: 16 new cards (half without a card number), 3 registered cards given to
// other holders and one refused (a date that is no day).
std::string ResidentList(uint32_t rows, const CCardMap& cards) {
    std::vector<std::string> registered;
    for (const CCardMap::CAssoc& entry : cards) {
        registered.push_back(entry.key.str());
    }
    std::string csv = "\xEF\xBB\xBF卡号,姓名,联系电话,门牌号,证件号码,地址,有效期,备注\r\n";
    int free = 1;
    for (uint32_t i = 0; i < rows; ++i) {
        const uint32_t kind = i % 20;
        std::string cardNo;
        if (kind >= 16 && kind < 19) {
            cardNo = registered[(i * 7919u) % registered.size()];
        } else if (kind % 2 == 0) {
            while (cards.IsNumberTaken(free)) {
                ++free;
            }
            cardNo = CardNoText(free++);
        }
        const std::string n = std::to_string(i);
        csv +=
            CsvLine({cardNo, "住户" + n, "139" + std::to_string(10000000 + i),
                     std::to_string(i % 30 + 1) + "栋" + std::to_string(i % 600 + 101),
                     "11010119800101" + std::to_string(1000 + i % 9000), "幸福花园" + n + "号",
                     kind == 19 ? "2025-02-30" : "2030-12-31", i % 3 == 0 ? "有车,\"东门\"" : ""});
    }
    return csv;
}

// The resident memory of this process now, in MiB.
double ResidentMiB() {
    long pages = 0;
    long resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) {
            resident = 0;
        }
        std::fclose(statm);
    }
    return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE)) /
           (1024.0 * 1024.0);
}

// Runs `work` in a child process; its peak resident memory in MiB, or -1 when it failed.
double InChild(const std::function<int()>& work) {
    std::fflush(stdout);
    const pid_t child = ::fork();
    if (child == 0) {
        const int code = work();
        std::fflush(stdout);
        ::_exit(code);
    }
    int status = 0;
    struct rusage usage {};
    if (child < 0 || ::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        return -1;
    }
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// Previews `list` in a fresh program with a register of `cards` cards and tells the figures.
int Preview(const std::string& dir, const std::string& list, uint32_t cards) {
    int argc = 1;
    char name[] = "enrol_bench";
    char* argv[] = {name, nullptr};
    QApplication qt(argc, argv);
    double before = 0;
    double open = 0;
    double closed = 0;
    double milliseconds = 0;
    QString summary;
    {
        COrvaneApp app(dir);
        FillSampleCards(app.m_mapCards, cards);
        app.m_nMaxNumber = cards;
        Msg::Recorder boxes;
        FileDlg::Recorder dialogs;
        before = ResidentMiB();
        {
            CEnrolDlg dialog(app.Desk());
            dialogs.QueueAnswer(QString::fromStdString(list));
            QElapsedTimer timer;
            timer.start();
            static_cast<QAbstractButton*>(dialog.Control(EnrolIds::IDC_ENROL_CHOOSE))->click();
            milliseconds = static_cast<double>(timer.nsecsElapsed()) / 1e6;
            open = ResidentMiB();
            summary = static_cast<QLabel*>(dialog.Control(EnrolIds::IDC_ENROL_SUMMARY))->text();
        }
        closed = ResidentMiB();
    }
    std::printf(
        "  preview %.0f ms; resident %.0f MiB before, %.0f MiB with the preview, %.0f MiB "
        "after closing\n  %s\n",
        milliseconds, before, open, closed,
        summary.replace(QLatin1Char('\n'), QLatin1String(" / ")).toStdString().c_str());
    return 0;
}

int Memory(const std::string& dir, uint32_t rows) {
    const std::string small = dir + "commas-20k.csv";
    const std::string large = dir + "commas-200k.csv";
    const std::string titled = dir + "titles-200k.csv";
    const std::string far = dir + "xfd.xlsx";
    const std::string residents = dir + "residents-1m.csv";
    std::ofstream(small, std::ios::binary) << std::string(20 * 1024, ',') << "\r\n";
    std::ofstream(large, std::ios::binary) << std::string(200 * 1024, ',') << "\r\n";
    std::string titles = "姓名";
    for (int c = 2; titles.size() < 200 * 1024; ++c) {
        titles += ",列" + std::to_string(c);
    }
    std::ofstream(titled, std::ios::binary) << titles << "\r\n张三\r\n";
    std::ofstream(dir + "xfd.py") << R"(import sys, openpyxl
wb = openpyxl.Workbook()
ws = wb.active
ws.append(["卡号", "姓名", "联系电话", "门牌号"])
for i in range(1, 200):
    ws.append(["", "住户%d" % i, "1390000%04d" % i, "%d栋%d" % (i % 9 + 1, 100 + i)])
ws["XFD2"] = "远"
wb.save(sys.argv[1])
)";
    if (std::system(("/usr/bin/python3 '" + dir + "xfd.py' '" + far + "'").c_str()) != 0) {
        std::fprintf(stderr, "the workbook could not be written (python3 with openpyxl)\n");
        return 1;
    }
    // Written by a process of its own, so that the list's text never lies in this one.
    InChild([&] {
        CCardMap sample;
        FillSampleCards(sample, 20000);
        std::ofstream(residents, std::ios::binary) << ResidentList(rows, sample);
        return 0;
    });
    const struct {
        const char* what;
        std::string path;
        uint32_t cards;
    } lists[] = {
        {"20 KB CSV of commas", small, 2000},
        {"200 KB CSV of commas", large, 2000},
        {"200 KB CSV with a title in every column", titled, 2000},
        {"workbook with a cell in column XFD", far, 2000},
        {"resident list", residents, 20000},
    };
    for (const auto& list : lists) {
        std::ifstream file(list.path, std::ios::binary | std::ios::ate);
        std::printf("%s (%lld bytes), register of %u cards:\n", list.what,
                    static_cast<long long>(file.tellg()), list.cards);
        const double peak = InChild([&] { return Preview(dir, list.path, list.cards); });
        std::printf("  peak resident %.0f MiB\n", peak);
    }
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    char folder[] = "/tmp/enrol-bench-XXXXXX";
    if (::mkdtemp(folder) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = std::string(folder) + "/";
    if (argc > 1 && std::string(argv[1]) == "memory") {
        const int code =
            Memory(dir, argc > 2 ? static_cast<uint32_t>(std::atol(argv[2])) : 1000000);
        std::system(("rm -rf '" + dir + "'").c_str());
        return code;
    }
    QApplication qt(argc, argv);
    const uint32_t rows = argc > 1 ? static_cast<uint32_t>(std::atol(argv[1])) : 10000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    const std::string list = dir + "residents.csv";
    {
        CCardMap sample;
        FillSampleCards(sample, 20000);
        std::ofstream(list, std::ios::binary) << ResidentList(rows, sample);
    }

    Msg::Recorder boxes;
    FileDlg::Recorder dialogs;
    std::vector<double> previews;
    std::vector<double> totals;
    size_t added = 0;
    size_t changed = 0;
    size_t refused = 0;
    size_t registered = 0;
    for (int run = 0; run < runs; ++run) {
        COrvaneApp app(dir);
        FillSampleCards(app.m_mapCards, 20000);
        app.m_nMaxNumber = 20000;
        CEnrolDlg dialog(app.Desk());
        dialogs.QueueAnswer(QString::fromStdString(list));
        QElapsedTimer timer;
        timer.start();
        static_cast<QAbstractButton*>(dialog.Control(EnrolIds::IDC_ENROL_CHOOSE))->click();
        previews.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        // The rows for registered cards name other holders: they go in too.
        static_cast<QAbstractButton*>(dialog.Control(EnrolIds::IDC_ENROL_ALLOW_HOLDER))->click();
        static_cast<QAbstractButton*>(dialog.Control(EnrolIds::IDC_ENROL_CONFIRM))->click();
        totals.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        added = dialog.Plan().added;
        changed = dialog.Plan().changed + dialog.Plan().holderChanges;
        refused = dialog.Plan().refused;
        registered = app.m_mapCards.GetCount();
    }
    std::sort(previews.begin(), previews.end());
    std::sort(totals.begin(), totals.end());
    std::printf(
        "rows %u into 20000 cards, runs %d: added %zu, changed %zu, refused %zu; register %zu\n",
        rows, runs, added, changed, refused, registered);
    std::printf("preview (read, map, plan, show): median %.1f ms (min %.1f, max %.1f)\n",
                previews[previews.size() / 2], previews.front(), previews.back());
    std::printf(
        "preview to confirmed (with the register saved): median %.1f ms (min %.1f, max %.1f)\n",
        totals[totals.size() / 2], totals.front(), totals.back());
    std::printf("last message: %s\n",
                boxes.shown().empty() ? "" : boxes.shown().back().text.toStdString().c_str());
    std::system(("rm -rf '" + dir + "'").c_str());
    return 0;
}
