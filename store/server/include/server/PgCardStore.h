#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "register/CardMap.h"
#include "server/PgConnection.h"
#include "server/PgOutbox.h"
#include "store/CardHistory.h"
#include "store/CardStore.h"

// The register on a PostgreSQL server that several desks use at once. The desk keeps the
// register in its map as the file store does; every change is one transaction that checks
// the row version of each card it touches against the one this desk last saw, so a change
// made meanwhile at another desk is never overwritten: the change is refused and the desk
// shows the card as it is now. Changes from all desks take turns (a lock of the server's),
// which also keeps the history one chain across the desks.
//
// While the server is away, a change that no device has carried out yet is refused; one that
// a device already carried out goes into the desk's outbox (CPgOutbox) and is applied to the
// map, and the outbox is sent, in order and with the row versions the desk had seen, as soon
// as the server answers again.
class CPgCardStore : public CCardStore {
public:
    // The texts the operator reads when a change meets another desk's.
    static constexpr const char* kChangedElsewhere =
        "这张卡片已在另一个工作站上修改,已显示最新内容。";
    static constexpr const char* kNumberTaken = "这个卡号已在另一个工作站上登记,已显示最新内容。";

    CPgCardStore(CCardMap& map, uint32_t& maxNumber) : m_map(map), m_maxNumber(maxNumber) {}

    // The desk's outbox, opened before Open(): what it still holds is applied to the map and
    // sent once the server answers. `lost` counts damaged records that cannot be sent.
    bool OpenOutbox(const std::string& path, uint64_t& lost, std::string& error);
    // Connects, brings the server's tables up to date, sends the outbox and loads the register
    // into the map (in the order the cards were first registered). False with `error` when it
    // cannot; Reconnect() tries again later.
    bool Open(const std::string& conninfo, std::string& error);
    // Connects again when the connection was lost and sends what the outbox holds; the
    // register is then loaded afresh (the other desks' changes meanwhile were not announced
    // to this one). True when connected with nothing left to send.
    bool Reconnect(std::string& error);
    bool Connected() const { return !m_connection.Broken(); }
    size_t Pending() const { return m_outbox.Pending().size(); }
    // One text for each change from the outbox that met another desk's change when it was
    // sent: recorded on the server as "未送达", told to the operator by whoever takes them.
    std::vector<std::string> TakeUndelivered() { return std::exchange(m_undelivered, {}); }

    const CCardMap& Cards() const override { return m_map; }
    uint32_t MaxNumber() const override { return m_maxNumber; }
    CommitResult Commit(CCardChange change, CommitMode mode, std::string& error) override;
    // While the server is away the record waits in the outbox (it is on disk there).
    bool Record(uint8_t operation, std::string content, std::string& error,
                const std::string& cardNo = std::string(), int64_t feeCents = 0) override;
    std::string HistoryPath() const override { return std::string(); }
    bool Shared() const override { return true; }
    uint64_t SeenMark() const override { return m_nMark; }
    // A copy of the server's history in the file at `path` (SetHistoryCopy), brought up to
    // date with the server's records.
    std::string ReadableHistory(std::string& warning) override;
    void SetHistoryCopy(std::string path) { m_strHistoryCopy = std::move(path); }

    // Replaces the server's register with `cards` in one transaction, on record as "导入" of
    // `source`; every desk loads it afresh. False with `error` (nothing changed) when it cannot.
    bool ReplaceAll(CCardMap&& cards, uint32_t maxNumber, std::string& error,
                    const std::string& source);

    // The installation's system password as the server holds it (read when connecting; empty
    // when no desk has set it yet) and setting it for every desk.
    const std::string& SystemPassword() const { return m_strSystemPassword; }
    bool SetSystemPassword(const std::string& password, std::string& error);

    // Other desks' changes: the socket that becomes readable when one is announced (-1 while
    // not connected; it changes when the desk connects again), and the refresh of the cards
    // announced (each told to the listeners). Returns how many cards were read again.
    int NoticeSocket() const { return m_connection.Socket(); }
    size_t TakeOtherDesksChanges();

    // The row version this desk last saw of a card; 0 for a card it does not know.
    int64_t RowVersion(const std::string& key) const;
    // Who and when the next records name; CurrentStamp() unless set (tests).
    void SetStamp(std::function<HistoryStamp()> stamp) { m_stamp = std::move(stamp); }

private:
    enum class Outcome { Done, Conflict, Taken, Failed };
    // Connects (when not connected) and sends the outbox, then loads the register afresh when
    // either happened; false with `error` while that cannot be done.
    bool Ready(std::string& error);
    // Connects, brings the server's tables up to date and listens for other desks' changes.
    bool Connect(std::string& error);
    // The whole register and the system password from the server, told to the listeners.
    bool Load(std::string& error);
    // Sends the outbox, oldest first; false when the server went away before all was sent.
    bool Deliver(std::string& error);
    enum class Delivery { Sent, Undelivered, Failed };
    Delivery DeliverOne(const CPgOutbox::Deferred& deferred, std::string& error);
    // One change in one transaction, checked against `seen` (a row version for each step).
    Outcome Write(CCardChange& change, const std::vector<int64_t>& seen, std::string& error,
                  std::string& conflictKey);
    // Serial numbers that another desk gave out meanwhile (the server's counter is ahead of
    // this desk's): the change's new numbers move past them. Inside the change lock.
    bool TakeServerNumbers(CCardChange& change, std::string& error);
    // The statements of a change inside a transaction that holds the change lock; `written`
    // gets the new row version of each key (0: removed).
    Outcome WriteSteps(const CCardChange& change, const std::vector<int64_t>& seen,
                       const std::string& desk, std::unordered_map<std::string, int64_t>& written,
                       std::string& error, std::string& conflictKey);
    // Keeps a change a device carried out for when the server is back, and applies it.
    CommitResult Defer(CCardChange change, std::vector<int64_t> seen, std::string& error);
    std::vector<int64_t> SeenVersions(const CCardChange& change) const;
    void TakeVersions(const std::unordered_map<std::string, int64_t>& written);
    // Appends history records in a transaction of their own.
    bool AppendRecords(const std::vector<std::string>& payloads, std::string& error);
    // Reads the card under `key` from the server into the map (or removes it there).
    void Refresh(const std::string& key);
    HistoryStamp Stamp() const { return m_stamp ? m_stamp() : CurrentStamp(); }

    CCardMap& m_map;
    uint32_t& m_maxNumber;
    std::string m_strConninfo;
    CPgConnection m_connection;
    CPgOutbox m_outbox;
    std::unordered_map<std::string, int64_t> m_versions;
    std::string m_strSystemPassword;
    std::vector<std::string> m_undelivered;
    // The row version a kept change expects of a card that an earlier kept change touched:
    // whatever that one leaves (m_outboxWritten, as they are sent).
    static constexpr int64_t kAfterOutbox = -1;
    std::unordered_set<std::string> m_deferredKeys;
    // When other desks' changes arrived (SeenMark()): each card's last, and the last load of
    // the whole register.
    uint64_t m_nMark = 1;
    uint64_t m_nWholeAt = 0;
    std::unordered_map<std::string, uint64_t> m_changedAt;
    // A card of `change` that another desk changed after the change's mark, or null.
    const std::string* ChangedSinceSeen(const CCardChange& change) const;
    std::unordered_map<std::string, int64_t> m_outboxWritten;
    std::string m_strHistoryCopy;
    std::function<HistoryStamp()> m_stamp;
};
