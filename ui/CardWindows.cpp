#include "ui/CardWindows.h"

#include "app/MainFrm.h"
#include "app/OrvaneApp.h"
#include "ui/EnrolDlg.h"
#include "ui/ExpiringDlg.h"
#include "ui/FeeSummaryDlg.h"
#include "ui/HistoryDlg.h"
#include "ui/ManageCardDlg.h"
#include "ui/UserCardDlg.h"

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
        CHistoryDlg dialog(app.Desk().store.HistoryPath(), QString(), frame);
        dialog.exec();
    });
    frame->SetCommandWindow(ID_FEE_SUMMARY, [&app, frame] {
        CFeeSummaryDlg dialog(app.Desk().store.HistoryPath(), frame);
        dialog.exec();
    });
    frame->SetCommandWindow(ID_EXPIRING, [&app, frame] {
        CExpiringDlg dialog(app.Desk().cards, frame);
        dialog.exec();
    });
}
