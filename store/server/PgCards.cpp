#include "PgCards.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "store/HistoryFile.h"

int64_t PgInteger(std::string_view bytes) {
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

void AddPgCardFields(const CCard& card, std::vector<std::string>& params,
                     std::vector<bool>& binary) {
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

std::unique_ptr<CCard> PgCardOf(const CPgResult& result, int row, int first) {
    auto card = std::make_unique<CCard>();
    int column = first;
    CCard::VisitFields(*card, [&](const char*, auto& field) {
        using Field = std::decay_t<decltype(field)>;
        const std::string_view cell = result.Cell(row, column++);
        if constexpr (std::is_same_v<Field, CCardText>) {
            field = cell;
        } else {
            field = static_cast<Field>(PgInteger(cell));
        }
    });
    return card;
}

std::string PgPlaceholders(int from, int count) {
    std::string out;
    for (int i = 0; i < count; ++i) {
        out += (i == 0 ? "$" : ", $") + std::to_string(from + i);
    }
    return out;
}

bool AppendPgHistory(CPgConnection& connection, const std::vector<std::string>& payloads,
                     std::string& error) {
    if (payloads.empty()) {
        return true;
    }
    // Chained after the last record of any desk (the change lock is held).
    CPgResult last = connection.Exec(
        "SELECT number, hash FROM orvane_history ORDER BY number DESC LIMIT 1", {}, {}, true);
    if (!last.Ok()) {
        error = last.Error();
        return false;
    }
    CHistoryFile::Hash previous{};
    uint64_t number = 1;
    if (last.Rows() == 1) {
        number = static_cast<uint64_t>(PgInteger(last.Cell(0, 0))) + 1;
        const std::string_view hash = last.Cell(0, 1);
        std::memcpy(previous.data(), hash.data(), std::min(hash.size(), previous.size()));
    }
    for (const std::string& payload : payloads) {
        CHistoryFile::Hash hash{};
        CHistoryFile::EncodeRecords({payload}, number, previous, hash);
        CPgResult inserted = connection.Exec(
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
