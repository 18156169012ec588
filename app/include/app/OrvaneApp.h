#pragma once

#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "app/CardDesk.h"
#include "app/ReplyHandoff.h"
#include "protocol/Frame.h"
#include "register/CardMap.h"
#include "register/RegisterFile.h"
#include "serial/ComPort.h"
#include "serial/SerialDevices.h"
#include "store/FileCardStore.h"
#include "store/RegisterLock.h"

class CIdleTimer;
class CMainFrame;
class CSharedRegister;
class CPortSetDlg;
class QTimer;

constexpr const char* kRegisterFileName = "cardbook.kcd";
constexpr const char* kBackupSuffix = ".old";
constexpr const char* kServerCopyFileName = "cardbook.server.kcd";

// The one application object: settings, the register, the serial link and the main window.
// It hands the card windows what they work with (Desk()); nothing reaches it through a
// global. Start-up and shut-down run in fixed order.
class COrvaneApp : public CRegisterFiles {
public:
    // `appDir` is the folder of set.ini, the register and the COM<n> entries; empty means the
    // one ChooseDataDir names (the executable's folder where it may write).
    explicit COrvaneApp(std::string appDir = std::string());
    ~COrvaneApp() override;
    COrvaneApp(const COrvaneApp&) = delete;
    COrvaneApp& operator=(const COrvaneApp&) = delete;

    // Shows the main window, reads the settings and loads the register. False ends the
    // program (ExitInstance still runs).
    bool InitInstance();
    // Writes the register (when it holds cards) and the password. Returns the exit code.
    int ExitInstance();

    // Replaces the register with the file's cards, all or nothing. A file that exists but
    // cannot be read is reported to the operator. Says what became of the file.
    RegisterLoad LoadRegister(const std::string& path) override;
    // Writes the register with a backup of the previous file. A failure is reported to the
    // operator and leaves the file and the backup as they were.
    bool SaveRegister(const std::string& path) override;
    bool SavePassword() override;

    // The register file; where the register is on a server, the copy of it that exports are
    // made from (the desk's own register file is left alone).
    std::string RegisterPath() const override {
        return m_strAppDir + (m_pShared ? kServerCopyFileName : kRegisterFileName);
    }
    // What the card windows work with.
    CCardDesk Desk() {
        return {m_mapCards, ActiveStore(), m_strSysPassword, m_replyHandoff, *this};
    }
    CFileCardStore& Store() { return m_store; }
    // The register file's store, or the server's where the register is on a server.
    CCardStore& ActiveStore();
    // The register on a server; null where it is the file.
    CSharedRegister* Shared() const { return m_pShared.get(); }
    std::string BackupPath() const { return RegisterPath() + kBackupSuffix; }
    std::string SettingsPath() const;
    CMainFrame* MainFrame() const { return m_pMainWnd.get(); }
    // The port dialog over the running program: its device list comes from m_pSerialDevices
    // and its "确认" connects the reader at once (ReconnectReader).
    std::unique_ptr<CPortSetDlg> PortDialog(QWidget* parent);

    std::string m_strAppDir;
    int m_nComPort = 0;
    std::string m_strSysPassword;
    CComPort m_comPort;
    // The reply's way from m_comPort to a window, with the receiver slot (SetReceiver,
    // ReleaseReceiver) and the writes; declared after the port, which it closes when it goes.
    CReplyHandoff m_replyHandoff{m_comPort};
    // Where the port dialog and the start-up find the serial devices present.
    std::unique_ptr<ISerialDeviceSource> m_pSerialDevices = std::make_unique<CUdevSerialDevices>();
    CCardMap m_mapCards;
    uint32_t m_nMaxNumber = 0;
    // Every change of m_mapCards goes through here (the card windows get it with Desk()).
    CFileCardStore m_store{m_mapCards, m_nMaxNumber};

private:
    bool LockRegister();
    // Opens the register on the server that set.ini names; false where this build has no
    // server support (the register file is used then).
    bool OpenSharedRegister(const std::string& conninfo);
    // Tells the operator what the start found in the history: a broken chain, a damaged file.
    void ReportHistory(const CFileCardStore::OpenReport& report);
    void OpenStore();
    RegisterLoad ImportRegister(const std::string& path);
    void FoldWhenIdle();
    // Gives the backup and the unreadable register names of their own; `kept` says which.
    bool KeepDamagedRegister(QString& kept);
    // The serial link: opened at start-up (a device that cannot be opened is reported and the
    // program runs on without it; false when the reader thread cannot be created), closed
    // when its line hangs up and opened again, through ConnectReader as at start-up, once the
    // device is back.
    enum class LinkOpen { Opened, NoDevice, NoThread };
    bool OpenSerialLink();
    LinkOpen ConnectReader(std::string& device);
    // The start-up message for a port that cannot be opened.
    QString OpenFailureText(const std::string& device) const;
    // Closes the port and opens the one of `comPort` (as start-up does); says how it went.
    QString ReconnectReader(int comPort);
    // The configured port cannot be opened: one USB adapter present is offered, several open
    // the port dialog. False when neither happened (nothing or no USB adapter found).
    bool OfferFoundReader();
    void OnLineGone();
    void TryReopen();
    // Closes the port; a close that the system reports as failed is told to the operator.
    void CloseSerialLink();
    void OnAppAbout();
    void OnPortSet();

    std::unique_ptr<CMainFrame> m_pMainWnd;
    // Held from start-up to exit: one program per register.
    CRegisterLock m_lock;
    // Folds a grown journal into the register once the operator pauses.
    std::unique_ptr<CIdleTimer> m_pFoldTimer;
    // Looks for the device again while its line is down.
    std::unique_ptr<QTimer> m_pReopenTimer;
    static constexpr int kReopenPollMs = 1000;
    // Set when the register file at start-up existed but could not be read: it is moved
    // aside before the first save, so that it is never overwritten.
    bool m_bRegisterDamaged = false;
    // Set when another program holds this register: this one ends without writing anything.
    bool m_bRegisterInUse = false;
    // The system password as the settings file holds it (read at start, written since).
    std::string m_strPasswordInSettings;
    // The register on a server (set.ini says so): then m_store is not used.
    std::unique_ptr<CSharedRegister> m_pShared;
    // How long the operator must pause before a grown journal is folded into the register.
    static constexpr int kFoldIdleMs = 3000;
};
