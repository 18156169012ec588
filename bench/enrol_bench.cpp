// Batch enrolment of a resident list of 10,000 rows into a register of 20,000 cards, under the
// offscreen platform: from choosing the file (read, map, preview) to the confirmed enrolment
// (the register saved with its backup, every accepted row in the register), median of RUNS,
// each on a fresh register.
//   enrol_bench [ROWS] [RUNS]

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
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

// Of every 20 rows: 16 new cards (half without a card number), 3 changes of registered cards
// and one refused (a date that is no day).
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

}  // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qt(argc, argv);
    const uint32_t rows = argc > 1 ? static_cast<uint32_t>(std::atol(argv[1])) : 10000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    char folder[] = "/tmp/enrol-bench-XXXXXX";
    if (::mkdtemp(folder) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = std::string(folder) + "/";
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
        static_cast<QAbstractButton*>(dialog.Control(EnrolIds::IDC_ENROL_CONFIRM))->click();
        totals.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        added = dialog.Plan().added;
        changed = dialog.Plan().changed;
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
