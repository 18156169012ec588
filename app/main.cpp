#include <QApplication>

#include <cstdio>
#include <cstring>
#include <string>

#include "app/MainFrm.h"
#include "app/OrvaneApp.h"
#include "app/QtTranslation.h"
#include "app/SignalClose.h"
#include "base/DataDir.h"
#include "base/Settings.h"
#include "base/Version.h"
#include "ui/CardDate.h"
#include "ui/CardWindows.h"

namespace {

void PrintHelp() {
    const DataDirChoice data = ChooseDataDir(ReadDataDirFacts(ExecutableDir(), kRegisterFileName));
    std::printf(
        "用法: orvane [选项]\n"
        "\n"
        "发卡软件: 小区门禁的非接触式门禁卡发卡与管理——卡片登记、串口读写卡器、管理卡、\n"
        "查询、登记的导入导出、导出 EXCEL。\n"
        "\n"
        "选项:\n"
        "  -h, --help      显示本帮助并退出\n"
        "  -v, --version   显示版本并退出\n"
        "  以及 Qt 的选项, 例如 -platform offscreen\n"
        "\n"
        "文件:\n"
        "  set.ini            端口号 (com) 和系统密码 (pass)\n"
        "  cardbook.kcd       卡片登记\n"
        "  cardbook.kcd.old   上次保存前的卡片登记\n"
        "  COM<n>             端口 n 的设备链接, 例如指向 /dev/ttyUSB0\n"
        "程序所在的文件夹可写时 (便携副本) 这些文件在程序旁边; 否则 (已安装的程序) 在用户的\n"
        "数据文件夹 $XDG_DATA_HOME/orvane (默认 ~/.local/share/orvane), 首次启动时创建。\n"
        "程序旁边已有卡片登记时总用程序旁边的文件夹。\n"
        "本次会用: %s\n",
        data.dir.c_str());
}

}  // namespace

int main(int argc, char* argv[]) {
    // Answered before Qt starts, so that they work without a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            PrintHelp();
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-v") == 0) {
            std::printf("orvane %s\n", kOrvaneVersion);
            return 0;
        }
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orvane"));
    QApplication::setApplicationVersion(QString::fromLatin1(kOrvaneVersion));
    // The desktop entry, by which a Wayland compositor finds the program's name and icon.
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kOrvaneAppId));
    // The program's texts are Chinese; Qt's own (buttons, file dialogs) are made so as well.
    UseChineseQtTexts(application);
    TypeOverClickedDateSections(application);

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
