#include "ui/CardWindows.h"

#include "app/MainFrm.h"
#include "app/OrvaneApp.h"
#include "ui/EnrolDlg.h"
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
}
