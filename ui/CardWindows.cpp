#include "ui/CardWindows.h"

#include "app/MainFrm.h"
#include "app/OrvaneApp.h"
#include "ui/ManageCardDlg.h"
#include "ui/UserCardDlg.h"

void ConnectCardWindows(COrvaneApp& app) {
    CMainFrame* frame = app.MainFrame();
    frame->SetCardWindows(
        [] {
            // Without a parent: the operator's main working window, maximised on its own.
            CUserCardDlg window;
            window.exec();
        },
        [frame] {
            CManageCardDlg dialog(frame);
            dialog.exec();
        });
}
