#pragma once

#include <QString>

#include <cstdint>
#include <memory>
#include <string>

#include "register/CardMap.h"
#include "server/PgCardStore.h"

class QSocketNotifier;
class QTimer;
class QWidget;

constexpr const char* kOutboxFileName = "cardbook.outbox";
// The desk's copy of the server's history, which the history windows read.
constexpr const char* kServerHistoryFileName = "cardbook.server-history";

// The register on a server for the running program: connects (asking for the password when
// the server wants one that ~/.pgpass does not give), shows the other desks' changes as they
// are announced, keeps trying while the server is away and tells the operator what became of
// the changes kept meanwhile.
class CSharedRegister {
public:
    CSharedRegister(CCardMap& map, uint32_t& maxNumber, QWidget* window);
    ~CSharedRegister();
    CSharedRegister(const CSharedRegister&) = delete;
    CSharedRegister& operator=(const CSharedRegister&) = delete;

    // Opens the desk's outbox and connects with `conninfo`; the desk's outbox and its copy of
    // the server's history are the files of those names in `dataDir`. A server that cannot
    // be reached is told to the operator; the program runs on and tries again.
    void Open(const std::string& conninfo, const std::string& dataDir);
    CPgCardStore& Store() { return m_store; }
    // Where the register is, for the About box.
    std::string Summary() const;
    // How often the server is tried again while it is away (first, then at most).
    static constexpr int kFirstRetryMs = 2000;
    static constexpr int kMostRetryMs = 10000;

private:
    bool Connect(std::string& error);
    // Follows the connection's socket (it changes when the desk connects again).
    void WatchNotices();
    void StopWatching();
    void OnNotices();
    void TryAgain();
    void Lost();
    // Tells the operator of changes from the outbox that met another desk's.
    void TellUndelivered();

    CPgCardStore m_store;
    QWidget* m_pWindow;
    std::string m_strConninfo;                     // with the password once the operator gave it
    std::unique_ptr<QSocketNotifier> m_pNotifier;  // on a copy of the store's socket
    int m_nWatchedSocket = -1;                     // the store's socket it copies
    std::unique_ptr<QTimer> m_pRetry;
    int m_nRetryMs = kFirstRetryMs;
    bool m_bTelling = false;
};

// What "测试连接" tells: whether the server answers with `conninfo`, and what it holds.
QString TestPgConnection(const std::string& conninfo);
