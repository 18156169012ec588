#include "ui/CardWindows.h"

#include "app/MainFrm.h"
#include "app/OrvaneApp.h"
#include "ui/EnrolDlg.h"
#include "ui/ExpiringDlg.h"
#include "ui/FeeSummaryDlg.h"
#include "ui/HistoryDlg.h"
#include "ui/ManageCardDlg.h"
#include "ui/RegisterPlaceDlg.h"
#include "ui/UserCardDlg.h"

#ifdef ORVANE_WITH_SERVER
#include "app/SharedRegister.h"
#include "server/PgConninfo.h"
#endif

namespace {

// What "卡片登记位置…" uses of the server's client library.
RegisterPlaceServer PlaceServer() {
#ifdef ORVANE_WITH_SERVER
    return {TestPgConnection, CheckPgConninfo, PgConninfoWithoutPassword};
#else
    const char* const kNoServer = "这个程序不能连接服务器。";
    return {[kNoServer](const std::string&) { return QString::fromUtf8(kNoServer); },
            [kNoServer](const std::string&, std::string& error) {
                error = kNoServer;
                return false;
            },
            [](const std::string& conninfo) { return conninfo; }};
#endif
}

}  // namespace

void ConnectCardWindows(COrvaneApp& app) {
    CMainFrame* frame = app.MainFrame();
    frame->SetCardWindows(
        [&app] {
            // Without a parent: the operator's main working window, maximised on its own.
            CUserCardDlg window(app.Desk());
            window.exec();
        },
        [&app, frame] {
            CManageCardDlg dialog(app.Desk(), frame);
            dialog.exec();
        });
    frame->SetEnrolWindow([&app, frame] {
        CEnrolDlg dialog(app.Desk(), frame);
        dialog.exec();
    });
    frame->SetCommandWindow(ID_HISTORY, [&app, frame] {
        CHistoryDlg dialog(HistoryToShow(frame, app.Desk().store), QString(), frame);
        dialog.exec();
    });
    frame->SetCommandWindow(ID_FEE_SUMMARY, [&app, frame] {
        CFeeSummaryDlg dialog(HistoryToShow(frame, app.Desk().store), frame);
        dialog.exec();
    });
    frame->SetCommandWindow(ID_REGISTER_PLACE, [&app, frame] {
        CRegisterPlaceDlg dialog(app.SettingsPath(), PlaceServer(), frame);
        dialog.exec();
    });
    frame->SetCommandWindow(ID_EXPIRING, [&app, frame] {
        CExpiringDlg dialog(app.Desk().cards, frame);
        dialog.exec();
    });
}
