#include "app/OrvaneApp.h"
#include "app/WaitCursor.h"

#include <sys/stat.h>
#include <cerrno>
#include <ctime>

#include <QAction>
#include <QApplication>
#include <QScreen>
#include <QTimer>

#include "app/AboutDlg.h"
#include "app/AppIcon.h"
#include "app/IdleTimer.h"
#include "app/MainFrm.h"
#include "app/MessageBox.h"
#include "app/PortError.h"
#include "app/PortSetDlg.h"
#include "app/RegisterRescue.h"
#ifdef ORVANE_WITH_SERVER
#include "app/SharedRegister.h"
#endif
#include "base/DataDir.h"
#include "base/PosixIo.h"
#include "base/Settings.h"
#include "protocol/Reply.h"
#include "register/RegisterFile.h"
#include "serial/PortName.h"

namespace {

QString Text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

// A register file that exists but cannot be read, and what is wrong with it.
QString UnreadableText(const std::string& path, const std::string& error) {
    return QStringLiteral("卡片登记文件无法读取:\n%1\n\n%2\n\n当前的卡片登记保持不变。")
        .arg(Text(path), Text(error));
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

COrvaneApp::COrvaneApp(std::string appDir) : m_strAppDir(std::move(appDir)) {}

COrvaneApp::~COrvaneApp() = default;

CCardStore& COrvaneApp::ActiveStore() {
#ifdef ORVANE_WITH_SERVER
    if (m_pShared) {
        return m_pShared->Store();
    }
#endif
    return m_store;
}

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
    m_strPasswordInSettings = settings.sysPassword;

    // Before anything else is opened or written: a second copy on this register ends here.
    if (!LockRegister()) {
        return false;
    }
    RemoveStaleTempFiles(RegisterPath());
    if (!OpenSerialLink()) {
        return false;
    }
    const RegisterPlace place = ReadRegisterPlace(SettingsPath());
    if (place.onServer && OpenSharedRegister(place.conninfo)) {
        return true;
    }
    LoadRegister(RegisterPath());
    OpenStore();
    return true;
}

bool COrvaneApp::OpenSharedRegister(const std::string& conninfo) {
#ifdef ORVANE_WITH_SERVER
    m_pShared = std::make_unique<CSharedRegister>(m_mapCards, m_nMaxNumber, m_pMainWnd.get());
    m_pShared->Open(conninfo, m_strAppDir);
    // The installation's password is the server's; the first desk gives it its own.
    CPgCardStore& store = m_pShared->Store();
    std::string error;
    if (!store.SystemPassword().empty()) {
        m_strSysPassword = store.SystemPassword();
    } else if (store.Connected() && !store.SetSystemPassword(m_strSysPassword, error)) {
        Msg::Show(m_pMainWnd.get(),
                  QStringLiteral("系统密码无法保存到卡片登记服务器:\n") + Text(error));
    }
    return true;
#else
    static_cast<void>(conninfo);
    Msg::Show(m_pMainWnd.get(),
              QStringLiteral("设置文件指定卡片登记在服务器上,但这个程序不能连接服务器,"
                             "现在使用本机的卡片登记文件。"));
    return false;
#endif
}

void COrvaneApp::ReportHistory(const CFileCardStore::OpenReport& report) {
    if (!report.historyKeptAs.empty()) {
        Msg::Show(
            m_pMainWnd.get(),
            QStringLiteral("操作记录文件已经损坏,已改名留存为:\n%1\n\n新的操作记录从现在开始。")
                .arg(Text(report.historyKeptAs)));
    }
    if (!report.historyOpen) {
        Msg::Show(
            m_pMainWnd.get(),
            QStringLiteral("操作记录无法打开:\n%1\n\n在这个问题解决之前,修改不会记入操作记录。")
                .arg(Text(report.historyError)));
        return;
    }
    if (report.historyBrokenAt > 0) {
        Msg::Show(m_pMainWnd.get(),
                  QStringLiteral("操作记录从第%1条起与写入时不一致:记录被改动、删除或调换过。\n"
                                 "从这一条起的记录不能作为凭证;新的操作仍会记录在后面。\n\n%2")
                      .arg(report.historyBrokenAt)
                      .arg(Text(m_store.HistoryPath())));
    }
}

bool COrvaneApp::LockRegister() {
    std::string error;
    switch (m_lock.Acquire(RegisterPath(), error)) {
        case CRegisterLock::Result::Locked:
            return true;
        case CRegisterLock::Result::HeldElsewhere:
            m_bRegisterInUse = true;
            Msg::Show(m_pMainWnd.get(),
                      QStringLiteral("卡片登记正在被另一个程序使用,不能同时打开。\n%1")
                          .arg(Text(RegisterPath())));
            return false;
        case CRegisterLock::Result::Failed:
            break;
    }
    // A folder where not even the lock can be made cannot take changes either; the operator
    // may still look at the cards.
    Msg::Show(m_pMainWnd.get(),
              QStringLiteral("无法锁定卡片登记:\n%1\n\n修改可能无法保存。").arg(Text(error)));
    return true;
}

void COrvaneApp::OpenStore() {
    m_pFoldTimer = std::make_unique<CIdleTimer>(kFoldIdleMs, [this] { FoldWhenIdle(); });
    m_store
        .Listen([this](const CCardNotice&) {
            if (m_store.NeedsFold()) {
                m_pFoldTimer->Arm();
            }
        })
        .Detach();
    CFileCardStore::OpenReport report;
    std::string error;
    bool opened;
    {
        WaitCursor wait;
        opened = m_store.Open(RegisterPath(), report, error);
    }
    if (!opened) {
        Msg::Show(m_pMainWnd.get(),
                  QStringLiteral("操作日志无法打开:\n%1\n\n在这个问题解决之前,卡片的修改不能保存。")
                      .arg(Text(error)));
    }
    if (report.keptAside) {
        QString text = QStringLiteral("操作日志(上次退出以后的修改)不能全部使用:");
        if (report.ignored > 0) {
            text += QStringLiteral("\n它不属于现在的卡片登记文件,其中%1项修改没有恢复。")
                        .arg(report.ignored);
        }
        if (report.lost > 0) {
            text += QStringLiteral("\n其中%1项修改已经损坏,无法恢复。").arg(report.lost);
        }
        text += QStringLiteral("\n已恢复%1项修改。\n\n原来的操作日志已改名留存为:\n%2")
                    .arg(report.replayed)
                    .arg(Text(report.keptAs));
        Msg::Show(m_pMainWnd.get(), text);
    }
    ReportHistory(report);
    if (m_store.NeedsFold()) {
        m_pFoldTimer->Arm();
    }
}

void COrvaneApp::FoldWhenIdle() {
    // An empty register is not written (as at exit); its journal stays until cards come.
    if (m_store.NeedsFold() && !m_mapCards.IsEmpty()) {
        SaveRegister(RegisterPath());
    }
}

bool COrvaneApp::SavePassword() {
    if (m_strSysPassword == m_strPasswordInSettings) {
        return true;  // confirmed again unchanged: nothing to write
    }
    std::string error;
    if (!WritePassword(SettingsPath(), m_strSysPassword, error)) {
        Msg::Show(m_pMainWnd.get(), QStringLiteral("系统密码无法保存到设置文件:\n") + Text(error));
        return false;
    }
    m_strPasswordInSettings = m_strSysPassword;
#ifdef ORVANE_WITH_SERVER
    if (m_pShared && !m_pShared->Store().SetSystemPassword(m_strSysPassword, error)) {
        Msg::Show(m_pMainWnd.get(),
                  QStringLiteral("系统密码无法保存到卡片登记服务器:\n") + Text(error));
        return false;
    }
#endif
    // That it changed, never the password.
    ActiveStore().Record(static_cast<uint8_t>(HistoryOperation::PasswordChanged), "系统密码已修改",
                         error);
    return true;
}

void COrvaneApp::OnAppAbout() {
#ifdef ORVANE_WITH_SERVER
    if (m_pShared) {
        CAboutDlg dialog(m_pShared->Summary(), m_pMainWnd.get(), QStringLiteral("卡片登记服务器:"));
        dialog.exec();
        return;
    }
#endif
    CAboutDlg dialog(RegisterPath(), m_pMainWnd.get());
    dialog.exec();
}

std::unique_ptr<CPortSetDlg> COrvaneApp::PortDialog(QWidget* parent) {
    return std::make_unique<CPortSetDlg>(
        m_nComPort, m_strAppDir, SettingsPath(), *m_pSerialDevices,
        [this](int comPort) { return ReconnectReader(comPort); }, parent);
}

void COrvaneApp::OnPortSet() {
    PortDialog(m_pMainWnd.get())->exec();
}

QString COrvaneApp::ReconnectReader(int comPort) {
    if (m_pReopenTimer) {
        m_pReopenTimer->stop();
    }
    CloseSerialLink();
    m_nComPort = comPort;
    std::string device;
    switch (ConnectReader(device)) {
        case LinkOpen::Opened:
            return QStringLiteral("读卡器的端口已打开。");
        case LinkOpen::NoDevice:
            return OpenFailureText(device);
        case LinkOpen::NoThread:
            break;
    }
    return QStringLiteral("创建线程失败!");
}

QString COrvaneApp::OpenFailureText(const std::string& device) const {
    return QStringLiteral("打开连接失败,请检查端口设置.\n\n端口号:%1\n设备:%2\n%3")
        .arg(m_nComPort)
        .arg(Text(device), PortErrorText(m_comPort.OpenError(), device));
}

bool COrvaneApp::OfferFoundReader() {
    std::vector<SerialDevice> usb;
    for (SerialDevice& device : m_pSerialDevices->List()) {
        if (device.usb) {
            usb.push_back(std::move(device));
        }
    }
    if (usb.size() > 1) {
        OnPortSet();
        return true;
    }
    if (usb.size() != 1) {
        return false;
    }
    const SerialDevice& found = usb[0];
    if (!Msg::Ask(
            m_pMainWnd.get(),
            QStringLiteral("找不到端口COM%1的读卡器。发现一个USB串口设备:%2(%3 %4),是否使用它?")
                .arg(m_nComPort)
                .arg(Text(found.stableName), Text(found.maker), Text(found.model)))) {
        return false;
    }
    // As if chosen in the port dialog with the current number.
    std::string error;
    if (!PointComEntry(m_strAppDir, m_nComPort, found.stableName, error)) {
        Msg::Show(m_pMainWnd.get(), QStringLiteral("端口无法指向所选的设备:\n") + Text(error));
        return true;
    }
    if (!WriteComPort(SettingsPath(), m_nComPort, error)) {
        Msg::Show(m_pMainWnd.get(), QStringLiteral("串口号无法写入设置文件:\n") + Text(error));
    }
    Msg::Show(m_pMainWnd.get(),
              PortSetText(m_nComPort) + QLatin1Char('\n') + ReconnectReader(m_nComPort));
    return true;
}

bool COrvaneApp::OpenSerialLink() {
    m_replyHandoff.SetLineGoneHandler([this] { OnLineGone(); });
    m_pReopenTimer = std::make_unique<QTimer>();
    m_pReopenTimer->setInterval(kReopenPollMs);
    QObject::connect(m_pReopenTimer.get(), &QTimer::timeout, [this] { TryReopen(); });
    std::string device;
    switch (ConnectReader(device)) {
        case LinkOpen::Opened:
            return true;
        case LinkOpen::NoDevice:
            if (!OfferFoundReader()) {
                Msg::Show(m_pMainWnd.get(), OpenFailureText(device));
            }
            return true;  // the program runs on without a serial link
        case LinkOpen::NoThread:
            break;
    }
    Msg::Show(m_pMainWnd.get(), QStringLiteral("创建线程失败!"));
    return false;
}

COrvaneApp::LinkOpen COrvaneApp::ConnectReader(std::string& device) {
    device = ResolveComDevice(m_strAppDir, m_nComPort);
    if (!m_comPort.OpenPort(device)) {
        return LinkOpen::NoDevice;
    }
    if (!m_comPort.StartReader(m_replyHandoff)) {
        m_comPort.ClosePort();
        return LinkOpen::NoThread;
    }
    return LinkOpen::Opened;
}

void COrvaneApp::OnLineGone() {
    CloseSerialLink();
    // Looking for the device already while the operator reads the message.
    m_pReopenTimer->start();
    // Over the window the operator works in, which stays open.
    Msg::Show(Msg::WorkingWindow(m_pMainWnd.get()), QString::fromUtf8(kLineGoneText));
}

void COrvaneApp::TryReopen() {
    // The entry COM<n> may point elsewhere by now: it is looked up again each time.
    std::string device;
    if (ConnectReader(device) == LinkOpen::Opened) {
        m_pReopenTimer->stop();
    }
}

void COrvaneApp::CloseSerialLink() {
    if (!m_comPort.ClosePort()) {
        Msg::Show(
            m_pMainWnd.get(),
            QStringLiteral("读卡器的端口关闭时出错:%1").arg(PortErrorText(m_comPort.CloseError())));
    }
}

int COrvaneApp::ExitInstance() {
    // Closing the port releases the reader thread from every wait and joins it.
    if (m_pReopenTimer) {
        m_pReopenTimer->stop();
    }
    CloseSerialLink();
    m_pFoldTimer.reset();
    if (m_bRegisterInUse) {
        m_pMainWnd.reset();  // another program's register: nothing is written
        return 0;
    }
    // Changes that could not reach the journal are saved with the register, even an empty one.
    // A register on a server is the server's: the file beside the program stays as it is.
    if (!m_pShared && (!m_mapCards.IsEmpty() || m_store.Unsaved() > 0)) {
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
    m_lock.Release();
    return 0;
}

RegisterLoad COrvaneApp::ImportRegister(const std::string& path) {
    CCardMap loaded(m_mapCards.GetHashTableSize());
    uint32_t maxNumber = m_nMaxNumber;
    std::string error;
    RegisterLoad result;
    {
        WaitCursor wait;
        result = LoadRegisterFile(path, loaded, maxNumber, error);
    }
    // Told over the window that imports (the user-card window, modal), which thus stays in
    // front of the main window.
    QWidget* over = QApplication::activeModalWidget();
    if (over == nullptr) {
        over = QApplication::activeWindow() != nullptr ? QApplication::activeWindow()
                                                       : m_pMainWnd.get();
    }
    if (result == RegisterLoad::Damaged) {
        Msg::ShowDetails(over, QStringLiteral("文件不是卡片登记文件,或者已经损坏。"),
                         Text(path) + QStringLiteral("\n\n") + Text(error));
        return result;
    }
    if (result == RegisterLoad::Unreadable) {
        Msg::Show(over, UnreadableText(path, error));
        return result;
    }
    if (result != RegisterLoad::Loaded) {
        return result;
    }
    // The imported cards are the register only once they are its file (or on the server).
    bool saved;
    {
        WaitCursor wait;
#ifdef ORVANE_WITH_SERVER
        if (m_pShared) {
            saved = m_pShared->Store().ReplaceAll(std::move(loaded), maxNumber, error, path);
            if (!saved) {
                Msg::Show(over, QStringLiteral("导入的卡片无法保存到卡片登记服务器:\n%1\n\n"
                                               "当前的卡片登记保持不变。")
                                    .arg(Text(error)));
                return RegisterLoad::Unreadable;
            }
            return result;
        }
#endif
        m_store.Locate(RegisterPath());
        saved = m_store.ReplaceAll(std::move(loaded), maxNumber, error, path);
    }
    if (!saved) {
        Msg::Show(over, QStringLiteral("导入的卡片无法保存到\n%1\n\n%2\n\n当前的卡片登记保持不变。")
                            .arg(Text(RegisterPath()), Text(error)));
        return RegisterLoad::Unreadable;
    }
    return result;
}

RegisterLoad COrvaneApp::LoadRegister(const std::string& path) {
    if (path != RegisterPath()) {
        return ImportRegister(path);
    }
    std::string error;
    RegisterLoad result;
    {
        WaitCursor wait;
        result = LoadRegisterFile(path, m_mapCards, m_nMaxNumber, error);
    }
    if (result != RegisterLoad::Unreadable && result != RegisterLoad::Damaged) {
        return result;
    }
    m_bRegisterDamaged = true;
    const QString text =
        UnreadableText(path, error) +
        QStringLiteral("这个文件不会被覆盖:退出时如有卡片要保存,会先把它改名留存。");
    // The operator may start with the backup's cards or with those before the damage.
    StartFromDamagedRegister(m_pMainWnd.get(), text, path, BackupPath(), m_mapCards, m_nMaxNumber);
    return result;
}

bool COrvaneApp::KeepDamagedRegister(QString& kept) {
    const std::string path = RegisterPath();
    // The backup first: once the damaged file is moved aside, the next save but one would
    // replace it.
    std::string keptBackup;
    std::string error;
    if (!KeepBackup(BackupPath(), std::time(nullptr), keptBackup, error)) {
        Msg::Show(
            m_pMainWnd.get(),
            QStringLiteral("无法把备份文件另外留存:\n%1\n\n卡片登记没有保存。").arg(Text(error)));
        return false;
    }
    if (Exists(path)) {
        const std::string keptName = DamagedRegisterName(path, std::time(nullptr));
        if (Io().rename(path.c_str(), keptName.c_str()) != 0) {
            Msg::Show(m_pMainWnd.get(),
                      QStringLiteral(
                          "无法把无法读取的卡片登记文件\n%1\n改名留存:%2\n\n卡片登记没有保存。")
                          .arg(Text(path), Text(ErrnoText(errno))));
            return false;
        }
        kept =
            QStringLiteral("原来无法读取的卡片登记文件已改名留存为:\n%1\n\n").arg(Text(keptName));
    }
    m_bRegisterDamaged = false;
    if (!keptBackup.empty()) {
        kept += QStringLiteral("原来的备份文件另外留存为:\n%1\n\n").arg(Text(keptBackup));
    }
    if (!kept.isEmpty()) {
        kept += QStringLiteral("程序不会覆盖或删除留存的文件。");
    }
    return true;
}

bool COrvaneApp::SaveRegister(const std::string& path) {
    // Told once the register is written: nothing may stand between moving the damaged file
    // aside and writing its successor.
    QString kept;
    if (m_bRegisterDamaged && path == RegisterPath() && !KeepDamagedRegister(kept)) {
        return false;
    }
    std::string error;
    bool saved;
    {
        WaitCursor wait;
        if (path == RegisterPath() && !m_pShared) {
            // Through the store, which renews its journal once the file holds every change.
            m_store.Locate(path);
            saved = m_store.WriteRegister(error);
        } else {
            saved = SaveRegisterFile(m_mapCards, path, BackupPath(), error);
        }
    }
    if (!saved) {
        Msg::Show(m_pMainWnd.get(),
                  QStringLiteral("卡片登记无法保存到\n%1\n\n%2\n\n原来的登记文件和备份都没有改变,"
                                 "本次的修改还没有写入文件。")
                      .arg(Text(path), Text(error)));
    }
    if (!kept.isEmpty()) {
        Msg::Show(m_pMainWnd.get(), kept, QMessageBox::Information);
    }
    return saved;
}
