#include "server/PgCardStore.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "server/PgSchema.h"
#include "store/HistoryFile.h"

namespace {

// The lock that changes of all desks take in turn (an arbitrary number among the server's
// advisory locks).
constexpr const char* kChangeLock = "SELECT pg_advisory_xact_lock(7240194)";

constexpr const char* kFields =
    "number, status, card_no, card_type, valid_date, password, reg_date, name, phone, "
    "house_no, id_no, address, remark, rights, rights2, sex, paid, month_fee, year_fee";

// Big-endian integers of a binary result.
int64_t BigEndian(std::string_view bytes) {
    int64_t value = 0;
    for (const char c : bytes) {
        value = (value << 8) | static_cast<uint8_t>(c);
    }
    // Sign-extend the narrower integer types.
    if (!bytes.empty() && bytes.size() < 8 && (static_cast<uint8_t>(bytes[0]) & 0x80) != 0) {
        value -= int64_t{1} << (8 * bytes.size());
    }
    return value;
}

// The card's 19 fields as statement parameters: numbers as text, texts as bytes.
void AddFields(const CCard& card, std::vector<std::string>& params, std::vector<bool>& binary) {
    CCard::VisitFields(card, [&](const char*, const auto& field) {
        using Field = std::decay_t<decltype(field)>;
        if constexpr (std::is_same_v<Field, CCardText>) {
            params.emplace_back(field.view());
            binary.push_back(true);
        } else {
            params.push_back(std::to_string(static_cast<long long>(field)));
            binary.push_back(false);
        }
    });
}

// The card in row `row` of a binary result whose columns from `first` are the 19 fields.
std::unique_ptr<CCard> CardOf(const CPgResult& result, int row, int first) {
    auto card = std::make_unique<CCard>();
    int column = first;
    CCard::VisitFields(*card, [&](const char*, auto& field) {
        using Field = std::decay_t<decltype(field)>;
        const std::string_view cell = result.Cell(row, column++);
        if constexpr (std::is_same_v<Field, CCardText>) {
            field = cell;
        } else {
            field = static_cast<Field>(BigEndian(cell));
        }
    });
    return card;
}

std::string Placeholders(int from, int count) {
    std::string out;
    for (int i = 0; i < count; ++i) {
        out += (i == 0 ? "$" : ", $") + std::to_string(from + i);
    }
    return out;
}

}  // namespace

bool CPgCardStore::Open(const std::string& conninfo, std::string& error) {
    if (!m_connection.Connect(conninfo, error) || !UpgradePgSchemaOf(error)) {
        return false;
    }
    CPgResult cards = m_connection.Exec(std::string("SELECT card_key, row_version, ") + kFields +
                                            " FROM orvane_cards ORDER BY position",
                                        {}, {}, true);
    CPgResult installation =
        m_connection.Exec("SELECT max_number FROM orvane_installation", {}, {}, true);
    if (!cards.Ok() || !installation.Ok() || installation.Rows() != 1) {
        error = !cards.Ok() ? cards.Error() : installation.Error();
        return false;
    }
    m_map.RemoveAll();
    m_versions.clear();
    for (int row = 0; row < cards.Rows(); ++row) {
        const std::string key(cards.Cell(row, 0));
        m_versions[key] = BigEndian(cards.Cell(row, 1));
        m_map.SetAt(key, CardOf(cards, row, 2));
    }
    m_maxNumber = static_cast<uint32_t>(BigEndian(installation.Cell(0, 0)));
    Notify(CCardNotice());
    return true;
}

bool CPgCardStore::UpgradePgSchemaOf(std::string& error) {
    return UpgradePgSchema(m_connection, error);
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
    if (!m_connection.Run(kChangeLock, error)) {
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
            AddFields(*step.card, params, binary);
            params.push_back(stamp.desk);
            binary.push_back(false);
            if (seen != 0) {
                params.push_back(std::to_string(seen));
                binary.push_back(false);
                result = m_connection.Exec(
                    std::string("UPDATE orvane_cards SET (") + kFields + ", changed_by) = (" +
                        Placeholders(2, 20) +
                        "), row_version = row_version + 1, changed_at = now() "
                        "WHERE card_key = $1 AND row_version = $22 RETURNING row_version",
                    params, binary);
            } else {
                result = m_connection.Exec(
                    std::string("INSERT INTO orvane_cards (card_key, ") + kFields +
                        ", changed_by, position) VALUES ($1, " + Placeholders(2, 20) +
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
    CPgResult counter =
        m_connection.Exec("UPDATE orvane_installation SET max_number = greatest(max_number, $1)",
                          {std::to_string(change.MaxNumber())});
    if (!counter.Ok()) {
        error = counter.Error();
        return rollBack(Outcome::Failed);
    }
    if (!AppendHistory(history, error) || !m_connection.Run("COMMIT", error)) {
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

bool CPgCardStore::AppendHistory(const std::vector<std::string>& payloads, std::string& error) {
    if (payloads.empty()) {
        return true;
    }
    // Chained after the last record of any desk (the change lock is held).
    CPgResult last = m_connection.Exec(
        "SELECT number, hash FROM orvane_history ORDER BY number DESC LIMIT 1", {}, {}, true);
    if (!last.Ok()) {
        error = last.Error();
        return false;
    }
    CHistoryFile::Hash previous{};
    uint64_t number = 1;
    if (last.Rows() == 1) {
        number = static_cast<uint64_t>(BigEndian(last.Cell(0, 0))) + 1;
        const std::string_view hash = last.Cell(0, 1);
        std::memcpy(previous.data(), hash.data(), std::min(hash.size(), previous.size()));
    }
    for (const std::string& payload : payloads) {
        CHistoryFile::Hash hash{};
        CHistoryFile::EncodeRecords({payload}, number, previous, hash);
        CPgResult inserted = m_connection.Exec(
            "INSERT INTO orvane_history (number, payload, hash) VALUES ($1, $2, $3)",
            {std::to_string(number), payload,
             std::string(reinterpret_cast<const char*>(hash.data()), hash.size())},
            {false, true, true});
        if (!inserted.Ok()) {
            error = inserted.Error();
            return false;
        }
        previous = hash;
        ++number;
    }
    return true;
}

bool CPgCardStore::Record(uint8_t operation, std::string content, std::string& error,
                          const std::string& cardNo, int64_t feeCents) {
    std::string ignored;
    if (!m_connection.Run("BEGIN", error) || !m_connection.Run(kChangeLock, error)) {
        m_connection.Run("ROLLBACK", ignored);
        return false;
    }
    if (!AppendHistory({EventPayload(operation, Stamp(), std::move(content), cardNo, feeCents)},
                       error) ||
        !m_connection.Run("COMMIT", error)) {
        m_connection.Run("ROLLBACK", ignored);
        return false;
    }
    return true;
}

void CPgCardStore::Refresh(const std::string& key) {
    CPgResult row = m_connection.Exec(
        std::string("SELECT row_version, ") + kFields + " FROM orvane_cards WHERE card_key = $1",
        {key}, {true}, true);
    if (!row.Ok()) {
        return;
    }
    CCardChange change(CardOperation::Save, m_maxNumber);
    if (row.Rows() == 1) {
        m_versions[key] = BigEndian(row.Cell(0, 0));
        change.Put(key, CardOf(row, 0, 1));
    } else {
        m_versions.erase(key);
        change.Remove(key);
    }
    const CCardNotice notice = NoticeOf(change);
    change.ApplyTo(m_map, m_maxNumber);
    Notify(notice);
}
