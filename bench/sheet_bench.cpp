// The spreadsheet export of the list of all cards (10,000 unless told) through the program's
// own workbook writer, under the offscreen platform, the register read from a file as at the
// program's start: median time of the "导出EXCEL" click.
//   sheet_bench [ROWS] [RUNS]

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/FileDialog.h"
#include "app/MessageBox.h"
#include "app/OrvaneApp.h"
#include "bench/SampleCards.h"
#include "ui/UserCardDlg.h"
#include "ui/UserCardIds.h"

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // No ODBC driver for workbooks: an empty folder of driver lists.
    char folder[] = "/tmp/sheet-bench-XXXXXX";
    if (::mkdtemp(folder) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    ::setenv("ODBCSYSINI", folder, 1);
    QApplication qt(argc, argv);
    const uint32_t rows = argc > 1 ? static_cast<uint32_t>(std::atol(argv[1])) : 10000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 7;

    Msg::Recorder boxes;  // answers the overwrite question with Yes
    FileDlg::Recorder dialogs;
    COrvaneApp app("/nonexistent/");
    if (!LoadSampleCards(app.m_mapCards, app.m_nMaxNumber, rows, folder)) {
        return 1;
    }
    CUserCardDlg window(app.Desk());
    const std::string target = std::string(folder) + "/cards.xls";
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        dialogs.QueueAnswer(QString::fromStdString(target));
        QElapsedTimer timer;
        timer.start();
        static_cast<QAbstractButton*>(window.Control(UserCardIds::IDC_EXPORT_EXCEL))->click();
        times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    struct stat info {};
    ::stat(target.c_str(), &info);
    const QString last = boxes.shown().empty() ? QString() : boxes.shown().back().text;
    std::sort(times.begin(), times.end());
    std::printf("rows %d, runs %d, workbook %lld bytes\n", window.m_list.GetItemCount(), runs,
                static_cast<long long>(info.st_size));
    std::printf("export: median %.1f ms (min %.1f, max %.1f)\n", times[times.size() / 2],
                times.front(), times.back());
    std::printf("last message: %s\n", last.toStdString().c_str());
    ::unlink(target.c_str());
    ::rmdir(folder);
    return 0;
}
