#include "app/SharedRegister.h"

#include <fcntl.h>
#include <unistd.h>

#include <QInputDialog>
#include <QLineEdit>
#include <QSocketNotifier>
#include <QTimer>

#include "app/MessageBox.h"
#include "app/WaitCursor.h"
#include "server/PgConninfo.h"
#include "server/PgSchema.h"

namespace {

QString Text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

}  // namespace

CSharedRegister::CSharedRegister(CCardMap& map, uint32_t& maxNumber, QWidget* window)
    : m_store(map, maxNumber), m_pWindow(window), m_pRetry(std::make_unique<QTimer>()) {
    m_pRetry->setSingleShot(true);
    QObject::connect(m_pRetry.get(), &QTimer::timeout, [this] { TryAgain(); });
    // Changes kept in the outbox are sent with the next change too: what met another desk's
    // is told once the change that sent it is done.
    m_store
        .Listen([this](const CCardNotice&) {
            QTimer::singleShot(0, m_pRetry.get(), [this] { TellUndelivered(); });
        })
        .Detach();
}

CSharedRegister::~CSharedRegister() {
    StopWatching();
}

std::string CSharedRegister::Summary() const {
    return PgConninfoSummary(m_strConninfo);
}

void CSharedRegister::Open(const std::string& conninfo, const std::string& dataDir) {
    m_strConninfo = conninfo;
    m_store.SetHistoryCopy(dataDir + kServerHistoryFileName);
    const std::string outboxPath = dataDir + kOutboxFileName;
    uint64_t lost = 0;
    std::string error;
    if (!m_store.OpenOutbox(outboxPath, lost, error)) {
        Msg::Show(m_pWindow, QStringLiteral("本机的待送文件无法打开:\n%1\n\n%2\n\n"
                                            "服务器无法连接时,已写好的卡片不能保存在本机。")
                                 .arg(Text(outboxPath), Text(error)));
    }
    if (lost > 0) {
        Msg::Show(m_pWindow, QStringLiteral("本机的待送文件中有%1项修改已经损坏,无法送出:\n%2")
                                 .arg(lost)
                                 .arg(Text(outboxPath)));
    }
    bool connected;
    {
        WaitCursor wait;
        connected = Connect(error);
    }
    if (!connected) {
        Msg::Show(m_pWindow,
                  QStringLiteral("无法连接卡片登记服务器:\n%1\n\n%2\n\n程序会继续尝试连接。"
                                 "连接之前不能修改卡片;已写好的卡片会保存在本机,连接后送出。")
                      .arg(Text(Summary()), Text(error)));
        Lost();
        return;
    }
    WatchNotices();
    TellUndelivered();
}

bool CSharedRegister::Connect(std::string& error) {
    if (m_store.Open(m_strConninfo, error)) {
        return true;
    }
    // Asked for only when the server wants a password that ~/.pgpass does not give; kept in
    // memory for this run, never written anywhere.
    CPgConnection probe;
    std::string ignored;
    if (probe.Connect(m_strConninfo, ignored) || !probe.NeedsPassword()) {
        return false;
    }
    bool given = false;
    const QString password = QInputDialog::getText(
        m_pWindow, QStringLiteral("卡片登记服务器"),
        QStringLiteral("连接卡片登记服务器需要密码:\n%1").arg(Text(Summary())), QLineEdit::Password,
        QString(), &given);
    if (!given) {
        return false;
    }
    m_strConninfo = PgConninfoWithPassword(m_strConninfo, password.toStdString());
    return m_store.Open(m_strConninfo, error);
}

void CSharedRegister::WatchNotices() {
    const int socket = m_store.NoticeSocket();
    if (m_pNotifier && m_nWatchedSocket == socket) {
        return;
    }
    StopWatching();
    if (socket < 0) {
        return;
    }
    // A copy of the socket: the store closes its own when it connects anew (inside any change),
    // and a notifier must never watch a closed descriptor.
    const int copy = ::fcntl(socket, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) {
        return;  // no notices then: the changes are seen when the register is loaded again
    }
    m_nWatchedSocket = socket;
    m_pNotifier = std::make_unique<QSocketNotifier>(copy, QSocketNotifier::Read);
    QObject::connect(m_pNotifier.get(), &QSocketNotifier::activated, [this] { OnNotices(); });
}

void CSharedRegister::StopWatching() {
    if (m_pNotifier) {
        const int copy = static_cast<int>(m_pNotifier->socket());
        m_pNotifier.reset();
        ::close(copy);
    }
    m_nWatchedSocket = -1;
}

void CSharedRegister::OnNotices() {
    m_store.TakeOtherDesksChanges();
    if (!m_store.Connected()) {
        Lost();
        return;
    }
    // Connected anew since (a change did): the new connection's socket is watched.
    WatchNotices();
}

void CSharedRegister::Lost() {
    // A closed socket stays readable: it is not watched until the desk connects again.
    StopWatching();
    if (!m_pRetry->isActive()) {
        m_pRetry->start(m_nRetryMs);
    }
}

void CSharedRegister::TryAgain() {
    const size_t pending = m_store.Pending();
    std::string error;
    if (!m_store.Reconnect(error)) {
        m_nRetryMs = std::min(m_nRetryMs * 2, kMostRetryMs);
        m_pRetry->start(m_nRetryMs);
        return;
    }
    m_nRetryMs = kFirstRetryMs;
    WatchNotices();
    TellUndelivered();
    if (pending > 0 && m_store.Pending() == 0) {
        Msg::Show(Msg::WorkingWindow(m_pWindow),
                  QStringLiteral(
                      "已重新连接卡片登记服务器,服务器无法连接时保存在本机的%1项修改已经送出。")
                      .arg(pending),
                  QMessageBox::Information);
    }
}

void CSharedRegister::TellUndelivered() {
    // A message box runs events: a change made meanwhile does not tell the same again.
    if (m_bTelling) {
        return;
    }
    m_bTelling = true;
    for (const std::string& text : m_store.TakeUndelivered()) {
        Msg::Show(Msg::WorkingWindow(m_pWindow),
                  Text(text) + QStringLiteral("\n\n这项修改已记入操作记录。"));
    }
    m_bTelling = false;
    // A change that found the server away starts the tries again.
    if (!m_store.Connected() || m_store.Pending() > 0) {
        Lost();
    } else {
        WatchNotices();
    }
}

QString TestPgConnection(const std::string& conninfo) {
    std::string error;
    if (!CheckPgConninfo(conninfo, error)) {
        return QStringLiteral("连接字符串无法识别:\n") + Text(error);
    }
    CPgConnection connection;
    if (!connection.Connect(conninfo, error)) {
        if (connection.NeedsPassword()) {
            return QStringLiteral(
                "服务器需要密码。\n请把密码写入~/.pgpass,或者在程序启动连接时输入。");
        }
        return QStringLiteral("无法连接服务器:\n") + Text(error);
    }
    const int version = PgSchemaVersion(connection, error);
    if (version < 0) {
        return QStringLiteral("已连接服务器,但无法读取卡片登记:\n") + Text(error);
    }
    if (version == 0) {
        return QStringLiteral("连接成功。服务器上还没有卡片登记,第一次使用时会自动建立。");
    }
    CPgResult count = connection.Exec("SELECT count(*) FROM orvane_cards");
    if (!count.Ok()) {
        return QStringLiteral("已连接服务器,但无法读取卡片登记:\n") + Text(count.Error());
    }
    return QStringLiteral("连接成功。服务器上的卡片登记有%1张卡片。")
        .arg(Text(std::string(count.Cell(0, 0))));
}
