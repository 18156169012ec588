#include <QApplication>

#include "MainFrm.h"
#include "OrvaneApp.h"
#include "SignalClose.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orvane"));

    COrvaneApp app;
    int result = 0;
    if (app.InitInstance()) {
        CloseOnTerminationSignals(app.MainFrame());
        result = QApplication::exec();
    }
    const int exitCode = app.ExitInstance();
    return result != 0 ? result : exitCode;
}
