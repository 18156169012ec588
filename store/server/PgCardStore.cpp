#include "server/PgCardStore.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "PgCards.h"
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

}  // namespace

bool CPgCardStore::Open(const std::string& conninfo, std::string& error) {
    if (!m_connection.Connect(conninfo, error) || !UpgradePgSchema(m_connection, error) ||
        !m_connection.Run(std::string("LISTEN ") + kChannel, error) ||
        !LoadPgRegister(m_connection, m_map, m_maxNumber, m_versions, error)) {
        return false;
    }
    Notify(CCardNotice());
    return true;
}

int64_t CPgCardStore::RowVersion(const std::string& key) const {
    const auto found = m_versions.find(key);
    return found == m_versions.end() ? 0 : found->second;
}

CommitResult CPgCardStore::Commit(CCardChange change, CommitMode, std::string& error) {
    std::string conflictKey;
    const Outcome outcome = Write(change, error, conflictKey);
    switch (outcome) {
        case Outcome::Done:
            break;
        case Outcome::Conflict:
        case Outcome::Taken:
            error = outcome == Outcome::Taken ? kNumberTaken : kChangedElsewhere;
            Refresh(conflictKey);
            return CommitResult::Refused;
        case Outcome::Failed:
            return CommitResult::Refused;
    }
    const CCardNotice notice = NoticeOf(change);
    change.ApplyTo(m_map, m_maxNumber);
    Notify(notice);
    return CommitResult::Durable;
}

CPgCardStore::Outcome CPgCardStore::Write(const CCardChange& change, std::string& error,
                                          std::string& conflictKey) {
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
    CPgResult last = m_connection.Exec("SELECT coalesce(max(number), 0) FROM orvane_history");
    if (!last.Ok()) {
        error = last.Error();
        return rollBack(Outcome::Failed);
    }
    const uint64_t firstRecord = std::stoull(std::string(last.Cell(0, 0))) + 1;
    const std::vector<std::string> history = HistoryPayloads(change, m_map, stamp, firstRecord);

    std::unordered_map<std::string, int64_t> written;
    for (const CCardChange::Step& step : change.Steps()) {
        const int64_t seen = RowVersion(step.key);
        std::vector<std::string> params{step.key};
        std::vector<bool> binary{true};
        CPgResult result;
        if (step.card == nullptr) {
            if (seen == 0) {
                continue;  // a card this desk does not have: nothing to remove
            }
            params.push_back(std::to_string(seen));
            binary.push_back(false);
            result = m_connection.Exec(
                "DELETE FROM orvane_cards WHERE card_key = $1 AND row_version = $2 "
                "RETURNING 0",
                params, binary);
        } else {
            AddPgCardFields(*step.card, params, binary);
            params.push_back(stamp.desk);
            binary.push_back(false);
            if (seen != 0) {
                params.push_back(std::to_string(seen));
                binary.push_back(false);
                result = m_connection.Exec(
                    std::string("UPDATE orvane_cards SET (") + kPgCardFields + ", changed_by) = (" +
                        PgPlaceholders(2, 20) +
                        "), row_version = row_version + 1, changed_at = now() "
                        "WHERE card_key = $1 AND row_version = $22 RETURNING row_version",
                    params, binary);
            } else {
                result = m_connection.Exec(
                    std::string("INSERT INTO orvane_cards (card_key, ") + kPgCardFields +
                        ", changed_by, position) VALUES ($1, " + PgPlaceholders(2, 20) +
                        ", (SELECT coalesce(max(position), 0) + 1 FROM orvane_cards)) "
                        "RETURNING row_version",
                    params, binary);
                if (!result.Ok() && result.State() == "23505") {  // the key is taken
                    conflictKey = step.key;
                    return rollBack(Outcome::Taken);
                }
            }
        }
        if (!result.Ok()) {
            error = result.Error();
            return rollBack(Outcome::Failed);
        }
        if (result.Rows() == 0) {  // changed or removed at another desk since
            conflictKey = step.key;
            return rollBack(Outcome::Conflict);
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
        return rollBack(Outcome::Failed);
    }
    CPgResult counter =
        m_connection.Exec("UPDATE orvane_installation SET max_number = greatest(max_number, $1)",
                          {std::to_string(change.MaxNumber())});
    if (!counter.Ok()) {
        error = counter.Error();
        return rollBack(Outcome::Failed);
    }
    if (!AppendPgHistory(m_connection, history, error) || !m_connection.Run("COMMIT", error)) {
        return rollBack(Outcome::Failed);
    }
    for (const auto& [key, version] : written) {
        if (version == 0) {
            m_versions.erase(key);
        } else {
            m_versions[key] = version;
        }
    }
    return Outcome::Done;
}

bool CPgCardStore::Record(uint8_t operation, std::string content, std::string& error,
                          const std::string& cardNo, int64_t feeCents) {
    std::string ignored;
    if (!m_connection.Run("BEGIN", error) || !m_connection.Run(kPgChangeLock, error)) {
        m_connection.Run("ROLLBACK", ignored);
        return false;
    }
    if (!AppendPgHistory(m_connection,
                         {EventPayload(operation, Stamp(), std::move(content), cardNo, feeCents)},
                         error) ||
        !m_connection.Run("COMMIT", error)) {
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
    const CCardNotice notice = NoticeOf(change);
    change.ApplyTo(m_map, m_maxNumber);
    Notify(notice);
}

size_t CPgCardStore::TakeOtherDesksChanges() {
    size_t refreshed = 0;
    for (const std::string& payload : m_connection.TakeNotifications()) {
        if (payload == kWholeRegister) {
            std::string error;
            if (LoadPgRegister(m_connection, m_map, m_maxNumber, m_versions, error)) {
                Notify(CCardNotice());
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
