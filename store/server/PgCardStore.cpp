#include "server/PgCardStore.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "PgCards.h"
#include "server/PgHistoryCopy.h"
#include "server/PgRegister.h"
#include "server/PgSchema.h"
#include "store/HistoryFile.h"

namespace {

// The channel on which a desk announces the cards it changed (their keys in hexadecimal, one
// notification a change).
constexpr const char* kChannel = "orvane_cards";
constexpr const char* kWholeRegister = "*";
constexpr size_t kMostKeyBytes = 7000;

std::string Hex(std::string_view bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (const char c : bytes) {
        out += kDigits[static_cast<uint8_t>(c) >> 4];
        out += kDigits[static_cast<uint8_t>(c) & 15];
    }
    return out;
}

// The keys of a notification; those that are no hexadecimal are left out.
std::vector<std::string> KeysOf(std::string_view payload) {
    std::vector<std::string> keys;
    size_t start = 0;
    while (start < payload.size()) {
        size_t end = payload.find(',', start);
        if (end == std::string_view::npos) {
            end = payload.size();
        }
        const std::string_view hex = payload.substr(start, end - start);
        std::string key;
        bool valid = hex.size() % 2 == 0;
        for (size_t i = 0; valid && i < hex.size(); i += 2) {
            int value = 0;
            for (size_t k = i; k < i + 2; ++k) {
                const char c = hex[k];
                const int digit = c >= '0' && c <= '9'   ? c - '0'
                                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                         : -1;
                valid = valid && digit >= 0;
                value = value * 16 + (digit < 0 ? 0 : digit);
            }
            key += static_cast<char>(value);
        }
        if (valid) {
            keys.push_back(std::move(key));
        }
        start = end + 1;
    }
    return keys;
}

// The records of a change that did not reach the register ("未送达"), made from the records it
// would have had: when, what and for which card, and `cause`. `told` gets the last one's text
// for the operator.
std::vector<std::string> RefusedRecords(const std::vector<std::string>& payloads,
                                        const std::string& cause, const HistoryStamp& stamp,
                                        std::string& told) {
    std::vector<std::string> records;
    for (const std::string& payload : payloads) {
        CHistoryEntryView entry;
        if (!CHistoryEntryView::Decode(payload, entry)) {
            continue;
        }
        const std::string content = entry.TimeText() + " " + HistoryOperationText(entry.operation) +
                                    "没有保存(" + cause + "):" + std::string(entry.content);
        records.push_back(EventPayload(static_cast<uint8_t>(HistoryOperation::Undelivered), stamp,
                                       content, std::string(entry.cardNo), entry.feeCents));
        told = "卡号[" + std::string(entry.cardNo) + "]" + content;
    }
    return records;
}

}  // namespace

bool CPgCardStore::OpenOutbox(const std::string& path, uint64_t& lost, std::string& error) {
    const bool opened = m_outbox.Open(path, lost, error);
    // The changes not yet sent are part of the register this desk shows.
    for (const CPgOutbox::Deferred& deferred : m_outbox.Pending()) {
        CCardChange change;
        if (CCardChange::Decode(deferred.change, change)) {
            for (const CCardChange::Step& step : change.Steps()) {
                m_deferredKeys.insert(step.key);
            }
            const CCardNotice notice = NoticeOf(change);
            change.ApplyTo(m_map, m_maxNumber);
            Notify(notice);
        }
    }
    return opened;
}

bool CPgCardStore::Open(const std::string& conninfo, std::string& error) {
    m_strConninfo = conninfo;
    return Ready(error);
}

bool CPgCardStore::Reconnect(std::string& error) {
    return Ready(error);
}

bool CPgCardStore::Ready(std::string& error) {
    const bool connecting = m_connection.Broken();
    if (connecting && !Connect(error)) {
        return false;
    }
    if (!connecting && m_outbox.Pending().empty()) {
        return true;
    }
    // What the outbox holds goes first; then the register as the server holds it: other
    // desks' changes while this one was away were not announced to it, and the kept changes
    // may have met theirs.
    return Deliver(error) && Load(error);
}

bool CPgCardStore::Connect(std::string& error) {
    if (!m_connection.Connect(m_strConninfo, error) || !UpgradePgSchema(m_connection, error) ||
        !m_connection.Run(std::string("LISTEN ") + kChannel, error)) {
        m_connection.Close();
        return false;
    }
    return true;
}

bool CPgCardStore::Load(std::string& error) {
    CPgResult installation = m_connection.Exec("SELECT system_password FROM orvane_installation");
    if (!installation.Ok() || installation.Rows() != 1) {
        error = installation.Error();
        return false;
    }
    if (!LoadPgRegister(m_connection, m_map, m_maxNumber, m_versions, error)) {
        return false;
    }
    m_strSystemPassword = installation.Cell(0, 0);
    m_nWholeAt = ++m_nMark;
    m_changedAt.clear();
    CCardNotice notice;
    notice.elsewhere = true;
    Notify(notice);
    return true;
}

bool CPgCardStore::ReplaceAll(CCardMap&& cards, uint32_t maxNumber, std::string& error,
                              const std::string& source) {
    if (!Ready(error)) {
        return false;
    }
    if (!ReplacePgRegister(m_connection, cards, maxNumber, source, Stamp(), error)) {
        if (m_connection.Broken()) {
            error = "无法连接卡片登记服务器:" + error;
        }
        return false;
    }
    // The register as the server now holds it; should it not be read back now, it is once the
    // desk connects again. The import itself is done.
    std::string ignored;
    if (!Load(ignored)) {
        m_connection.Close();
    }
    return true;
}

std::string CPgCardStore::ReadableHistory(std::string& warning) {
    warning.clear();
    if (m_strHistoryCopy.empty()) {
        return std::string();
    }
    std::string error;
    uint64_t brokenAt = 0;
    if (!Ready(error) || !CopyPgHistory(m_connection, m_strHistoryCopy, brokenAt, error)) {
        warning = "操作记录无法从卡片登记服务器取得,显示的是本机上次取得的记录:\n" + error;
    } else if (brokenAt > 0) {
        warning = "服务器上的操作记录从第" + std::to_string(brokenAt) +
                  "条起与写入时不一致:记录被改动、删除或调换过。从这一条起的记录不能作为凭证。";
    }
    return m_strHistoryCopy;
}

bool CPgCardStore::SetSystemPassword(const std::string& password, std::string& error) {
    CPgResult updated =
        m_connection.Exec("UPDATE orvane_installation SET system_password = $1", {password});
    if (!updated.Ok()) {
        error = m_connection.Broken() ? "无法连接卡片登记服务器" : updated.Error();
        return false;
    }
    m_strSystemPassword = password;
    return true;
}

int64_t CPgCardStore::RowVersion(const std::string& key) const {
    const auto found = m_versions.find(key);
    return found == m_versions.end() ? 0 : found->second;
}

std::vector<int64_t> CPgCardStore::SeenVersions(const CCardChange& change) const {
    std::vector<int64_t> seen;
    for (const CCardChange::Step& step : change.Steps()) {
        seen.push_back(RowVersion(step.key));
    }
    return seen;
}

void CPgCardStore::TakeVersions(const std::unordered_map<std::string, int64_t>& written) {
    for (const auto& [key, version] : written) {
        if (version == 0) {
            m_versions.erase(key);
        } else {
            m_versions[key] = version;
        }
    }
}

CommitResult CPgCardStore::Commit(CCardChange change, CommitMode mode, std::string& error) {
    // The versions the operator saw: also those checked when the change is tried again after
    // connecting anew (which loads the register afresh).
    std::vector<int64_t> seen = SeenVersions(change);
    Outcome outcome = Outcome::Failed;
    std::string conflictKey;
    if (const std::string* changed = ChangedSinceSeen(change)) {
        // Shown to the operator before another desk's change arrived: that one stands.
        outcome = Outcome::Conflict;
        conflictKey = *changed;
    } else if (Ready(error)) {
        outcome = Write(change, seen, error, conflictKey);
        // A connection lost since the last change (the server restarted) is made again once.
        if (outcome == Outcome::Failed && m_connection.Broken() && Ready(error)) {
            outcome = Write(change, seen, error, conflictKey);
        }
    }
    switch (outcome) {
        case Outcome::Done:
            break;
        case Outcome::Conflict:
        case Outcome::Taken:
            error = outcome == Outcome::Taken ? kNumberTaken : kChangedElsewhere;
            if (mode == CommitMode::DeviceDone) {
                // The device carried it out all the same: on record, never dropped.
                std::string told;
                std::string recordError;
                const bool recorded = AppendRecords(
                    RefusedRecords(HistoryPayloads(change, m_map, Stamp(), 0),
                                   outcome == Outcome::Taken ? "这个卡号已在另一个工作站上登记"
                                                             : "这张卡片已在另一个工作站上修改",
                                   Stamp(), told),
                    recordError);
                error += recorded ? "\n这次修改没有保存,已记入操作记录。"
                                  : "\n这次修改没有保存,也无法记入操作记录:" + recordError;
            }
            Refresh(conflictKey);
            return CommitResult::Conflict;
        case Outcome::Failed:
            if (mode == CommitMode::Refusable) {
                if (m_connection.Broken()) {
                    error = "无法连接卡片登记服务器:" + error;
                }
                return CommitResult::Refused;
            }
            // A device carried it out: kept and sent later, whatever kept it from the server.
            return Defer(std::move(change), std::move(seen), error);
    }
    const CCardNotice notice = NoticeOf(change);
    change.ApplyTo(m_map, m_maxNumber);
    Notify(notice);
    return CommitResult::Durable;
}

const std::string* CPgCardStore::ChangedSinceSeen(const CCardChange& change) const {
    if (change.Seen() == 0) {
        return nullptr;
    }
    for (const CCardChange::Step& step : change.Steps()) {
        const auto changed = m_changedAt.find(step.key);
        if (m_nWholeAt > change.Seen() ||
            (changed != m_changedAt.end() && changed->second > change.Seen())) {
            return &step.key;
        }
    }
    return nullptr;
}

CommitResult CPgCardStore::Defer(CCardChange change, std::vector<int64_t> seen,
                                 std::string& error) {
    // A card that an earlier kept change touched is checked, when sent, against the version
    // that change leaves.
    for (size_t i = 0; i < change.Steps().size() && i < seen.size(); ++i) {
        if (!m_deferredKeys.insert(change.Steps()[i].key).second) {
            seen[i] = kAfterOutbox;
        }
    }
    CPgOutbox::Deferred deferred;
    deferred.change = change.Encode();
    deferred.versions = std::move(seen);
    deferred.history = HistoryPayloads(change, m_map, Stamp(), 0);
    std::string outboxError;
    if (!m_outbox.Add(std::move(deferred), outboxError)) {
        error += "\n本机的待送文件也无法写入:" + outboxError;
    }
    const CCardNotice notice = NoticeOf(change);
    change.ApplyTo(m_map, m_maxNumber);
    Notify(notice);
    return CommitResult::NotYetSaved;
}

bool CPgCardStore::TakeServerNumbers(CCardChange& change, std::string& error) {
    CPgResult counter = m_connection.Exec("SELECT max_number FROM orvane_installation");
    if (!counter.Ok() || counter.Rows() != 1) {
        error = counter.Error();
        return false;
    }
    const auto serverMax = static_cast<uint32_t>(std::stoull(std::string(counter.Cell(0, 0))));
    if (serverMax > m_maxNumber) {
        change.RaiseNumbers(m_maxNumber, serverMax - m_maxNumber);
        m_maxNumber = serverMax;
    }
    return true;
}

CPgCardStore::Outcome CPgCardStore::Write(CCardChange& change, const std::vector<int64_t>& seen,
                                          std::string& error, std::string& conflictKey) {
    std::string ignored;
    if (!m_connection.Run("BEGIN", error)) {
        return Outcome::Failed;
    }
    const auto rollBack = [this, &ignored](Outcome outcome) {
        m_connection.Run("ROLLBACK", ignored);
        return outcome;
    };
    if (!m_connection.Run(kPgChangeLock, error)) {
        return rollBack(Outcome::Failed);
    }
    const HistoryStamp stamp = Stamp();
    if (!TakeServerNumbers(change, error)) {
        return rollBack(Outcome::Failed);
    }
    CPgResult last = m_connection.Exec("SELECT coalesce(max(number), 0) FROM orvane_history");
    if (!last.Ok()) {
        error = last.Error();
        return rollBack(Outcome::Failed);
    }
    const uint64_t firstRecord = std::stoull(std::string(last.Cell(0, 0))) + 1;
    const std::vector<std::string> history = HistoryPayloads(change, m_map, stamp, firstRecord);
    std::unordered_map<std::string, int64_t> written;
    const Outcome outcome = WriteSteps(change, seen, stamp.desk, written, error, conflictKey);
    if (outcome != Outcome::Done) {
        return rollBack(outcome);
    }
    if (!AppendPgHistory(m_connection, history, error) || !m_connection.Run("COMMIT", error)) {
        return rollBack(Outcome::Failed);
    }
    TakeVersions(written);
    return Outcome::Done;
}

CPgCardStore::Outcome CPgCardStore::WriteSteps(const CCardChange& change,
                                               const std::vector<int64_t>& seen,
                                               const std::string& desk,
                                               std::unordered_map<std::string, int64_t>& written,
                                               std::string& error, std::string& conflictKey) {
    for (size_t i = 0; i < change.Steps().size(); ++i) {
        const CCardChange::Step& step = change.Steps()[i];
        const int64_t version = i < seen.size() ? seen[i] : 0;
        std::vector<std::string> params{step.key};
        std::vector<bool> binary{true};
        CPgResult result;
        if (step.card == nullptr) {
            if (version == 0) {
                continue;  // a card this desk does not have: nothing to remove
            }
            params.push_back(std::to_string(version));
            binary.push_back(false);
            result = m_connection.Exec(
                "DELETE FROM orvane_cards WHERE card_key = $1 AND row_version = $2 "
                "RETURNING 0",
                params, binary);
        } else {
            AddPgCardFields(*step.card, params, binary);
            params.push_back(desk);
            binary.push_back(false);
            if (version != 0) {
                params.push_back(std::to_string(version));
                binary.push_back(false);
                result = m_connection.Exec(
                    std::string("UPDATE orvane_cards SET (") + kPgCardFields + ", changed_by) = (" +
                        PgPlaceholders(2, 20) +
                        "), row_version = nextval('orvane_row_version'), changed_at = now() "
                        "WHERE card_key = $1 AND row_version = $22 RETURNING row_version",
                    params, binary);
            } else {
                result = m_connection.Exec(
                    std::string("INSERT INTO orvane_cards (card_key, ") + kPgCardFields +
                        ", changed_by, position, row_version) VALUES ($1, " +
                        PgPlaceholders(2, 20) +
                        ", (SELECT coalesce(max(position), 0) + 1 FROM orvane_cards),"
                        " nextval('orvane_row_version')) "
                        "RETURNING row_version",
                    params, binary);
                if (!result.Ok() && result.State() == "23505") {  // the key is taken
                    conflictKey = step.key;
                    return Outcome::Taken;
                }
            }
        }
        if (!result.Ok()) {
            error = result.Error();
            return Outcome::Failed;
        }
        if (result.Rows() == 0) {  // changed or removed at another desk since
            conflictKey = step.key;
            return Outcome::Conflict;
        }
        written[step.key] = step.card == nullptr ? 0 : std::stoll(std::string(result.Cell(0, 0)));
    }
    // The other desks hear of the change when it is committed.
    std::string keys;
    for (const CCardChange::Step& step : change.Steps()) {
        if (!keys.empty()) {
            keys += ',';
        }
        keys += Hex(step.key);
    }
    // A notification carries at most 8000 bytes: a larger change (a batch) is announced as
    // one of the whole register.
    if (keys.size() > kMostKeyBytes) {
        keys = kWholeRegister;
    }
    CPgResult announced = m_connection.Exec("SELECT pg_notify($1, $2)", {kChannel, keys});
    if (!announced.Ok()) {
        error = announced.Error();
        return Outcome::Failed;
    }
    CPgResult counter =
        m_connection.Exec("UPDATE orvane_installation SET max_number = greatest(max_number, $1)",
                          {std::to_string(change.MaxNumber())});
    if (!counter.Ok()) {
        error = counter.Error();
        return Outcome::Failed;
    }
    return Outcome::Done;
}

bool CPgCardStore::Deliver(std::string& error) {
    while (!m_outbox.Pending().empty()) {
        if (DeliverOne(m_outbox.Pending().front(), error) == Delivery::Failed) {
            return false;
        }
        m_outbox.Delivered();
    }
    m_deferredKeys.clear();
    m_outboxWritten.clear();
    std::string ignored;
    m_outbox.Renew(ignored);  // a file that only grows is all that a failure here costs
    return true;
}

CPgCardStore::Delivery CPgCardStore::DeliverOne(const CPgOutbox::Deferred& deferred,
                                                std::string& error) {
    std::string ignored;
    const auto fail = [this, &ignored] {
        m_connection.Run("ROLLBACK", ignored);
        return Delivery::Failed;
    };
    if (!m_connection.Run("BEGIN", error) || !m_connection.Run(kPgChangeLock, error)) {
        return fail();
    }
    const std::string outbox(reinterpret_cast<const char*>(m_outbox.Name().data()),
                             m_outbox.Name().size());
    // Sent before, and the desk stopped before it heard so: not sent twice.
    CPgResult done =
        m_connection.Exec("SELECT 1 FROM orvane_delivered WHERE outbox = $1 AND last_seq >= $2",
                          {outbox, std::to_string(deferred.seq)}, {true, false});
    if (!done.Ok()) {
        error = done.Error();
        return fail();
    }
    if (done.Rows() == 1) {
        return m_connection.Run("COMMIT", error) ? Delivery::Sent : fail();
    }
    CCardChange change;
    const bool decoded = CCardChange::Decode(deferred.change, change);
    const HistoryStamp stamp = Stamp();
    std::unordered_map<std::string, int64_t> written;
    std::string conflictKey;
    Outcome outcome = Outcome::Conflict;
    if (decoded && change.Empty()) {
        outcome = Outcome::Done;  // records only
    } else if (decoded) {
        if (!m_connection.Run("SAVEPOINT deferred", error)) {
            return fail();
        }
        // Versions left by the changes sent before this one; one whose change was not sent
        // leaves none, and this change meets the same other desk's change.
        std::vector<int64_t> seen = deferred.versions;
        for (size_t i = 0; i < seen.size() && i < change.Steps().size(); ++i) {
            if (seen[i] == kAfterOutbox) {
                const auto sent = m_outboxWritten.find(change.Steps()[i].key);
                seen[i] = sent != m_outboxWritten.end() ? sent->second : kAfterOutbox;
            }
        }
        outcome = WriteSteps(change, seen, stamp.desk, written, error, conflictKey);
        if (outcome == Outcome::Failed) {
            return fail();
        }
    }
    std::vector<std::string> history = deferred.history;
    std::string told;
    if (outcome != Outcome::Done) {
        // Another desk's change came first: this one is recorded, never dropped, and the
        // operator is told.
        if (decoded && !m_connection.Run("ROLLBACK TO SAVEPOINT deferred", error)) {
            return fail();
        }
        const std::string cause = outcome == Outcome::Taken
                                      ? "服务器无法连接时保存在本机,送出时这个卡号已在另一个"
                                        "工作站上登记"
                                      : "服务器无法连接时保存在本机,送出时这张卡片已在另一个"
                                        "工作站上修改";
        history = RefusedRecords(deferred.history, cause, stamp, told);
        if (told.empty()) {
            told = "一项在服务器无法连接时保存在本机的修改没有送出(" + cause + ")。";
        }
    }
    CPgResult marked = m_connection.Exec(
        "INSERT INTO orvane_delivered (outbox, last_seq) VALUES ($1, $2) "
        "ON CONFLICT (outbox) DO UPDATE SET last_seq = EXCLUDED.last_seq",
        {outbox, std::to_string(deferred.seq)}, {true, false});
    if (!marked.Ok()) {
        error = marked.Error();
        return fail();
    }
    if (!AppendPgHistory(m_connection, history, error) || !m_connection.Run("COMMIT", error)) {
        return fail();
    }
    if (outcome == Outcome::Done) {
        TakeVersions(written);
        for (const auto& [key, version] : written) {
            m_outboxWritten[key] = version;
        }
        return Delivery::Sent;
    }
    if (decoded) {
        for (const CCardChange::Step& step : change.Steps()) {
            m_outboxWritten.erase(step.key);
        }
    }
    m_undelivered.push_back(told);
    return Delivery::Undelivered;
}

bool CPgCardStore::Record(uint8_t operation, std::string content, std::string& error,
                          const std::string& cardNo, int64_t feeCents) {
    std::string payload = EventPayload(operation, Stamp(), std::move(content), cardNo, feeCents);
    if (AppendRecords({payload}, error)) {
        return true;
    }
    if (!m_connection.Broken() && m_outbox.Pending().empty()) {
        return false;
    }
    // Done already (an export written, money received): on record once the server is back,
    // after the changes kept before it.
    CPgOutbox::Deferred deferred;
    deferred.change = CCardChange().Encode();
    deferred.history.push_back(std::move(payload));
    return m_outbox.Add(std::move(deferred), error);
}

bool CPgCardStore::AppendRecords(const std::vector<std::string>& payloads, std::string& error) {
    std::string ignored;
    if (!Ready(error) || !m_connection.Run("BEGIN", error) ||
        !m_connection.Run(kPgChangeLock, error) ||
        !AppendPgHistory(m_connection, payloads, error) || !m_connection.Run("COMMIT", error)) {
        m_connection.Run("ROLLBACK", ignored);
        return false;
    }
    return true;
}

void CPgCardStore::Refresh(const std::string& key) {
    CPgResult row = m_connection.Exec(std::string("SELECT row_version, ") + kPgCardFields +
                                          " FROM orvane_cards WHERE card_key = $1",
                                      {key}, {true}, true);
    if (!row.Ok()) {
        return;
    }
    CCardChange change(CardOperation::Save, m_maxNumber);
    if (row.Rows() == 1) {
        m_versions[key] = PgInteger(row.Cell(0, 0));
        change.Put(key, PgCardOf(row, 0, 1));
    } else {
        m_versions.erase(key);
        change.Remove(key);
    }
    m_changedAt[key] = ++m_nMark;
    CCardNotice notice = NoticeOf(change);
    notice.elsewhere = true;
    change.ApplyTo(m_map, m_maxNumber);
    Notify(notice);
}

size_t CPgCardStore::TakeOtherDesksChanges() {
    size_t refreshed = 0;
    const std::vector<std::string> payloads = m_connection.TakeNotifications();
    if (payloads.empty()) {
        return 0;
    }
    // The serial numbers other desks gave out.
    CPgResult counter = m_connection.Exec("SELECT max_number FROM orvane_installation");
    if (counter.Ok() && counter.Rows() == 1) {
        m_maxNumber = std::max(m_maxNumber,
                               static_cast<uint32_t>(std::stoull(std::string(counter.Cell(0, 0)))));
    }
    for (const std::string& payload : payloads) {
        if (payload == kWholeRegister) {
            std::string error;
            if (Load(error)) {
                refreshed += m_map.GetCount();
            }
            continue;
        }
        for (const std::string& key : KeysOf(payload)) {
            Refresh(key);
            ++refreshed;
        }
    }
    return refreshed;
}
