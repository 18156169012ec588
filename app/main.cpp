#include <QApplication>

#include "app/MainFrm.h"
#include "app/OrvaneApp.h"
#include "app/SignalClose.h"
#include "ui/CardWindows.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orvane"));

    COrvaneApp app;
    int result = 0;
    if (app.InitInstance()) {
        ConnectCardWindows(app);
        CloseOnTerminationSignals(app.MainFrame());
        result = QApplication::exec();
    }
    const int exitCode = app.ExitInstance();
    return result != 0 ? result : exitCode;
}
