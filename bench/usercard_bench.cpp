// The user-card window over a large register read from a file, as at the program's start,
// under the offscreen platform: the time from creating the window to the first paint of its
// filled list, and the resident memory that the open window adds; then "查询" and "显示全部",
// from the click to the rebuilt list painted; then the quick find above the list, from a
// keystroke to the narrowed list painted; then "导入" of a register file of the same cards and
// "导出" to one.
// With --in-memory the register is built card by card instead, its records and texts spread
// over the heap as after many single additions.
//   usercard_bench [--in-memory] [CARDS] [RUNS]

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QElapsedTimer>
#include <QEvent>
#include <QLineEdit>

#include <unistd.h>

#include <filesystem>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/FileDialog.h"
#include "app/MessageBox.h"
#include "app/OrvaneApp.h"
#include "bench/SampleCards.h"
#include "register/Card.h"
#include "register/RegisterFile.h"
#include "ui/UserCardDlg.h"
#include "ui/UserCardIds.h"

#include "bench/FirstPaint.h"
#include "bench/ResidentMemory.h"

namespace {}  // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qt(argc, argv);
    const bool inMemory = argc > 1 && std::string(argv[1]) == "--in-memory";
    if (inMemory) {
        --argc;
        ++argv;
    }
    const uint32_t cards = argc > 1 ? static_cast<uint32_t>(std::atol(argv[1])) : 100000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 7;

    Msg::Recorder boxes;  // nothing may wait for an answer; Yes to the overwrite question
    FileDlg::Recorder dialogs;
    char folder[] = "/tmp/usercard-bench-XXXXXX";
    if (::mkdtemp(folder) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    COrvaneApp app(std::string(folder) + "/");  // the register file and its backup go there
    if (inMemory) {
        FillSampleCards(app.m_mapCards, cards);
        app.m_nMaxNumber = cards;
    } else if (!LoadSampleCards(app.m_mapCards, app.m_nMaxNumber, cards, folder)) {
        return 1;
    }

    std::vector<double> times;
    std::vector<long> extra;
    for (int run = 0; run < runs; ++run) {
        qt.processEvents();
        const long before = ResidentKiB();
        QElapsedTimer timer;
        timer.start();
        auto window = std::make_unique<CUserCardDlg>(app.Desk());
        FirstPaint watch;
        window->m_list.viewport()->installEventFilter(&watch);
        window->show();
        watch.Wait(qt);
        times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        extra.push_back(ResidentKiB() - before);
        if (window->m_list.GetItemCount() != static_cast<int>(app.m_mapCards.GetCount())) {
            std::fprintf(stderr, "the list holds %d rows\n", window->m_list.GetItemCount());
            return 1;
        }
        window.reset();
    }
    const long firstExtra = extra.front();

    // A query for the reported-lost cards over the whole register (registered 2015 ... 2026),
    // and all cards again.
    CUserCardDlg window(app.Desk());
    FirstPaint watch;
    window.m_list.viewport()->installEventFilter(&watch);
    window.show();
    watch.Wait(qt);
    static_cast<QDateTimeEdit*>(window.Control(UserCardIds::IDC_QUERY_FROM))
        ->setDate(QDate(2015, 1, 1));
    static_cast<QComboBox*>(window.Control(UserCardIds::IDC_QUERY_STATUS))
        ->setCurrentIndex(CARD_LOST);
    const auto timeClick = [&](int id) {
        QElapsedTimer timer;
        timer.start();
        static_cast<QAbstractButton*>(window.Control(id))->click();
        window.m_list.viewport()->update();
        watch.Wait(qt);
        return static_cast<double>(timer.nsecsElapsed()) / 1e6;
    };
    std::vector<double> queries;
    std::vector<double> showAll;
    int queryRows = 0;
    for (int run = 0; run < runs; ++run) {
        queries.push_back(timeClick(UserCardIds::IDC_QUERY));
        queryRows = window.m_list.GetItemCount();
        showAll.push_back(timeClick(UserCardIds::IDC_SHOW_ALL));
    }
    // The quick find: each text as a keystroke makes it from the one before (a first letter
    // searches every listed card, one typed on only the cards shown, one taken away every
    // card again), then the field emptied.
    auto* quickFind = static_cast<QLineEdit*>(window.Control(UserCardIds::IDC_QUICK_FIND));
    const auto timeTyped = [&](const QString& text) {
        QElapsedTimer timer;
        timer.start();
        quickFind->setText(text);
        window.m_list.viewport()->update();
        watch.Wait(qt);
        return static_cast<double>(timer.nsecsElapsed()) / 1e6;
    };
    struct Keystroke {
        const char* what;
        QString text;
        std::vector<double> times;
        int rows = 0;
    };
    std::vector<Keystroke> keystrokes = {
        {"first digit \"1\" (nearly every card)", QStringLiteral("1"), {}, 0},
        {"typed on \"13\"", QStringLiteral("13"), {}, 0},
        {"typed on \"138\"", QStringLiteral("138"), {}, 0},
        {"emptied (all listed rows)", QString(), {}, 0},
        {"first character \"张\"", QStringLiteral("张"), {}, 0},
        {"typed on \"张伟\"", QStringLiteral("张伟"), {}, 0},
        {"first one taken away \"伟\"", QStringLiteral("伟"), {}, 0},
        {"emptied again", QString(), {}, 0},
        {"card number part \"12345\" at once", QStringLiteral("12345"), {}, 0},
        {"nothing found \"zz\"", QStringLiteral("zz"), {}, 0},
        {"emptied once more", QString(), {}, 0},
    };
    for (int run = 0; run < runs; ++run) {
        for (Keystroke& k : keystrokes) {
            k.times.push_back(timeTyped(k.text));
            k.rows = window.m_list.GetItemCount();
        }
    }
    // "导入" of a register file of the same cards (the register is saved first, then replaced
    // and listed anew) and "导出" to a register file (saved, then copied).
    const std::string importFile = std::string(folder) + "/import.kcd";
    std::string error;
    if (!SaveRegisterFile(app.m_mapCards, importFile, "", error)) {
        std::fprintf(stderr, "cannot write %s: %s\n", importFile.c_str(), error.c_str());
        return 1;
    }
    std::vector<double> imports;
    std::vector<double> exports;
    for (int run = 0; run < runs; ++run) {
        dialogs.QueueAnswer(QString::fromStdString(importFile));
        imports.push_back(timeClick(UserCardIds::IDC_IMPORT));
        dialogs.QueueAnswer(QString::fromStdString(std::string(folder) + "/export.kcd"));
        exports.push_back(timeClick(UserCardIds::IDC_EXPORT));
    }
    const QString last = boxes.shown().empty() ? QString() : boxes.shown().back().text;
    std::filesystem::remove_all(folder);
    const auto imported = std::count_if(boxes.shown().begin(), boxes.shown().end(), [](auto& b) {
        return b.text == QStringLiteral("导入文件成功!");
    });
    if (imported != runs || window.m_list.GetItemCount() != static_cast<int>(cards)) {
        std::fprintf(stderr, "%d of %d imports succeeded: %s\n", static_cast<int>(imported), runs,
                     last.toStdString().c_str());
        return 1;
    }

    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::sort(times.begin(), times.end());
    std::sort(extra.begin(), extra.end());
    std::printf("cards %u (%s), runs %d\n", static_cast<unsigned>(app.m_mapCards.GetCount()),
                inMemory ? "built in memory" : "read from a file", runs);
    std::printf("open to painted list: median %.1f ms (min %.1f, max %.1f)\n",
                times[times.size() / 2], times.front(), times.back());
    std::printf("resident memory added by the open window: median %.1f MiB (first run %.1f)\n",
                static_cast<double>(extra[extra.size() / 2]) / 1024.0,
                static_cast<double>(firstExtra) / 1024.0);
    std::printf("query (%d rows listed): median %.1f ms\n", queryRows, median(queries));
    std::printf("show all (%d rows): median %.1f ms\n", window.m_list.GetItemCount(),
                median(showAll));
    for (const Keystroke& k : keystrokes) {
        const double slowest = *std::max_element(k.times.begin(), k.times.end());
        std::printf("quick find, %s: %d rows, median %.1f ms (max %.1f)\n", k.what, k.rows,
                    median(k.times), slowest);
    }
    std::printf("import (save, load, list): median %.1f ms; export (save, copy): median %.1f ms\n",
                median(imports), median(exports));
    std::printf("last message: %s\n", last.toStdString().c_str());
    return 0;
}
