#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>

#include "register/CardMap.h"
#include "server/PgConnection.h"
#include "store/CardHistory.h"
#include "store/CardStore.h"

// The register on a PostgreSQL server that several desks use at once. The desk keeps the
// register in its map as the file store does; every change is one transaction that checks
// the row version of each card it touches against the one this desk last saw, so a change
// made meanwhile at another desk is never overwritten: the change is refused and the desk
// shows the card as it is now. Changes from all desks take turns (a lock of the server's),
// which also keeps the history one chain across the desks.
class CPgCardStore : public CCardStore {
public:
    // The texts the operator reads when a change meets another desk's.
    static constexpr const char* kChangedElsewhere =
        "这张卡片已在另一个工作站上修改,已显示最新内容。";
    static constexpr const char* kNumberTaken = "这个卡号已在另一个工作站上登记,已显示最新内容。";

    CPgCardStore(CCardMap& map, uint32_t& maxNumber) : m_map(map), m_maxNumber(maxNumber) {}

    // Connects, brings the server's tables up to date and loads the register into the map
    // (in the order the cards were first registered). False with `error` when it cannot.
    bool Open(const std::string& conninfo, std::string& error);

    const CCardMap& Cards() const override { return m_map; }
    uint32_t MaxNumber() const override { return m_maxNumber; }
    CommitResult Commit(CCardChange change, CommitMode mode, std::string& error) override;
    bool Record(uint8_t operation, std::string content, std::string& error,
                const std::string& cardNo = std::string(), int64_t feeCents = 0) override;
    std::string HistoryPath() const override { return std::string(); }

    // Other desks' changes: the socket that becomes readable when one is announced, and the
    // refresh of the cards announced (each told to the listeners). Returns how many cards
    // were read again.
    int NoticeSocket() const { return m_connection.Socket(); }
    size_t TakeOtherDesksChanges();

    // The row version this desk last saw of a card; 0 for a card it does not know.
    int64_t RowVersion(const std::string& key) const;
    // Who and when the next records name; CurrentStamp() unless set (tests).
    void SetStamp(std::function<HistoryStamp()> stamp) { m_stamp = std::move(stamp); }

private:
    enum class Outcome { Done, Conflict, Taken, Failed };
    Outcome Write(const CCardChange& change, std::string& error, std::string& conflictKey);
    // Reads the card under `key` from the server into the map (or removes it there).
    void Refresh(const std::string& key);
    HistoryStamp Stamp() const { return m_stamp ? m_stamp() : CurrentStamp(); }

    CCardMap& m_map;
    uint32_t& m_maxNumber;
    CPgConnection m_connection;
    std::unordered_map<std::string, int64_t> m_versions;
    std::function<HistoryStamp()> m_stamp;
};
