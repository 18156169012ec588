#include "app/OrvaneApp.h"
#include "app/WaitCursor.h"

#include <sys/stat.h>
#include <cerrno>
#include <ctime>

#include <QAction>
#include <QApplication>
#include <QScreen>

#include "app/AboutDlg.h"
#include "app/AppIcon.h"
#include "app/MainFrm.h"
#include "app/MessageBox.h"
#include "app/PortSetDlg.h"
#include "base/DataDir.h"
#include "base/PosixIo.h"
#include "base/Settings.h"
#include "register/RegisterFile.h"
#include "serial/PortName.h"

namespace {

QString Text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

COrvaneApp::COrvaneApp(std::string appDir) : m_strAppDir(std::move(appDir)) {}

COrvaneApp::~COrvaneApp() = default;

std::string COrvaneApp::SettingsPath() const {
    return m_strAppDir + kSettingsFileName;
}

bool COrvaneApp::InitInstance() {
    // Message boxes and every other window without an icon of its own show the program's.
    QApplication::setWindowIcon(AppIcon());
    m_pMainWnd = std::make_unique<CMainFrame>();
    // The whole screen also where no window manager maximises (a bare X server).
    m_pMainWnd->setGeometry(m_pMainWnd->screen()->availableGeometry());
    m_pMainWnd->showMaximized();
    QObject::connect(m_pMainWnd->Command(ID_APP_ABOUT), &QAction::triggered, m_pMainWnd.get(),
                     [this] { OnAppAbout(); });
    QObject::connect(m_pMainWnd->Command(ID_PORT_SET), &QAction::triggered, m_pMainWnd.get(),
                     [this] { OnPortSet(); });
    m_pMainWnd->repaint();

    m_nMaxNumber = 0;
    m_replyHandoff.SetReceiver(nullptr);
    m_mapCards.InitHashTable(CCardMap::kRegisterHashSize);

    if (m_strAppDir.empty()) {
        // Beside the executable where it may write (or where its register already is), else
        // the user's data folder, created at the first start.
        const DataDirChoice choice =
            ChooseDataDir(ReadDataDirFacts(ExecutableDir(), kRegisterFileName));
        m_strAppDir = choice.dir;
        std::string error;
        if (!choice.portable && !MakeDataDir(m_strAppDir, error)) {
            Msg::Show(m_pMainWnd.get(),
                      QStringLiteral("无法创建保存设置和卡片登记的文件夹:\n%1").arg(Text(error)));
        }
    } else if (m_strAppDir.back() != '/') {
        m_strAppDir += '/';
    }
    const AppSettings settings = ReadSettings(SettingsPath());
    m_nComPort = settings.comPort;
    m_strSysPassword = settings.sysPassword;

    if (!OpenSerialLink()) {
        return false;
    }
    LoadRegister(RegisterPath());
    return true;
}

void COrvaneApp::OnAppAbout() {
    CAboutDlg dialog(RegisterPath(), m_pMainWnd.get());
    dialog.exec();
}

void COrvaneApp::OnPortSet() {
    CPortSetDlg dialog(m_nComPort, SettingsPath(), m_pMainWnd.get());
    dialog.exec();
}

bool COrvaneApp::OpenSerialLink() {
    if (!m_comPort.OpenPort(ResolveComDevice(m_strAppDir, m_nComPort))) {
        Msg::Show(m_pMainWnd.get(), QStringLiteral("打开连接失败,请检查端口设置."));
        return true;  // the program runs on without a serial link
    }
    const bool started = m_comPort.StartReader(m_replyHandoff);
    if (!started) {
        Msg::Show(m_pMainWnd.get(), QStringLiteral("创建线程失败!"));
    }
    return started;
}

int COrvaneApp::ExitInstance() {
    // Closing the port releases the reader thread from every wait and joins it.
    m_comPort.ClosePort();
    if (!m_mapCards.IsEmpty()) {
        while (!SaveRegister(RegisterPath()) &&
               Msg::Ask(nullptr,
                        QStringLiteral("是否再试一次保存卡片登记?\n选“否”将放弃本次的修改。"))) {
        }
    }
    std::string error;
    if (!WritePassword(SettingsPath(), m_strSysPassword, error)) {
        Msg::Show(nullptr, QStringLiteral("系统密码无法保存到设置文件:\n") + Text(error));
    }
    m_pMainWnd.reset();
    return 0;
}

RegisterLoad COrvaneApp::LoadRegister(const std::string& path) {
    std::string error;
    RegisterLoad result;
    {
        WaitCursor wait;
        result = LoadRegisterFile(path, m_mapCards, m_nMaxNumber, error);
    }
    if (result != RegisterLoad::Unreadable && result != RegisterLoad::Damaged) {
        return result;
    }
    QString text = QStringLiteral("卡片登记文件无法读取:\n%1\n\n%2\n\n当前的卡片登记保持不变。")
                       .arg(Text(path), Text(error));
    if (path == RegisterPath()) {
        m_bRegisterDamaged = true;
        text += QStringLiteral("这个文件不会被覆盖:退出时如有卡片要保存,会先把它改名留存。");
    }
    Msg::Show(m_pMainWnd.get(), text);
    return result;
}

bool COrvaneApp::KeepDamagedRegister() {
    const std::string path = RegisterPath();
    if (!Exists(path)) {
        m_bRegisterDamaged = false;
        return true;
    }
    const std::string kept = DamagedRegisterName(path, std::time(nullptr));
    if (Io().rename(path.c_str(), kept.c_str()) != 0) {
        Msg::Show(
            m_pMainWnd.get(),
            QStringLiteral("无法把无法读取的卡片登记文件\n%1\n改名留存:%2\n\n卡片登记没有保存。")
                .arg(Text(path), Text(ErrnoText(errno))));
        return false;
    }
    m_bRegisterDamaged = false;
    Msg::Show(m_pMainWnd.get(),
              QStringLiteral("原来无法读取的卡片登记文件已改名留存为:\n%1").arg(Text(kept)),
              QMessageBox::Information);
    return true;
}

bool COrvaneApp::SaveRegister(const std::string& path) {
    if (m_bRegisterDamaged && path == RegisterPath() && !KeepDamagedRegister()) {
        return false;
    }
    std::string error;
    bool saved;
    {
        WaitCursor wait;
        saved = SaveRegisterFile(m_mapCards, path, BackupPath(), error);
    }
    if (!saved) {
        Msg::Show(m_pMainWnd.get(),
                  QStringLiteral("卡片登记无法保存到\n%1\n\n%2\n\n原来的登记文件和备份都没有改变,"
                                 "本次的修改还没有写入文件。")
                      .arg(Text(path), Text(error)));
    }
    return saved;
}
